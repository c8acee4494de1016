#include "combinedwindow.h"

#include "decoders.h"
#include "modbus.h"
#include "panellayout.h"
#include "prompt.h"

// The right column splits the height of the serial frame between the two digital panels.
constexpr int kHalfPanelHeight = 3375;
constexpr int kLowerPanelTop = kPanelTop + kPanelHeight - kHalfPanelHeight;

CombinedWindow::CombinedWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, kTwoColumnWidth, parent)
{
    TM_Overtime_A = makeTimer(QStringLiteral("TM_Overtime_A"), model.lineOvertimeA);
    TM_Overtime_B = makeTimer(QStringLiteral("TM_Overtime_B"), model.lineOvertimeB);
    TM_Overtime_C = makeTimer(QStringLiteral("TM_Overtime_C"), model.lineOvertimeC);
    TM_Acquisition_A = makeTimer(QStringLiteral("TM_Acquisition_A"), model.lineAcquisitionA);
    TM_Acquisition_B = makeTimer(QStringLiteral("TM_Acquisition_B"), model.lineAcquisitionB);
    connect(TM_Overtime_A, &WindowTimer::Timer, this, &CombinedWindow::TM_Overtime_A_Timer);
    connect(TM_Overtime_B, &WindowTimer::Timer, this, &CombinedWindow::TM_Overtime_B_Timer);
    connect(TM_Overtime_C, &WindowTimer::Timer, this, &CombinedWindow::TM_Overtime_C_Timer);
    connect(TM_Acquisition_A, &WindowTimer::Timer, this, &CombinedWindow::TM_Acquisition_A_Timer);
    connect(TM_Acquisition_B, &WindowTimer::Timer, this, &CombinedWindow::TM_Acquisition_B_Timer);
}

template <typename T>
static T *named(T *widget, const QString &name)
{
    widget->setObjectName(name);
    return widget;
}

static QString element(const QString &name, qsizetype index)
{
    return QStringLiteral("%1_%2").arg(name).arg(index);
}

void CombinedWindow::loadPanels()
{
    loadAnalogPanel();
    loadInputPanel();
    loadOutputPanel();
    finishCycles();
}

void CombinedWindow::loadAnalogPanel()
{
    const ModelRow &m = model();
    Frame2 = addPanel(QStringLiteral("Frame2"), m.analogFrame, kFirstPanelLeft, kPanelTop, kPanelWidth, kPanelHeight);
    const PanelHead head = addPanelHead(Frame2, QStringLiteral("Label6"), 0, QStringLiteral("Command_OK1"), kAcquisitionCaption, 840, 495);
    Label6 = head.caption;
    Command_OK1 = head.button;
    for (int i = 0; i < m.channels(); ++i) {
        const int top = 1560 + i * 720;
        auto *caption = named(new QLabel(m.analogCaptions[i], Frame2), element(QStringLiteral("Label18"), i));
        caption->setGeometry(twips(240), twips(top + 90), twips(840), twips(255));
        QLabel *value = makeValueLabel(Frame2, element(QStringLiteral("AI_SHOW"), i));
        value->setGeometry(twips(1080), twips(top), twips(1935), twips(435));
        Label18.append(caption);
        AI_SHOW.append(value);
    }
    connect(Command_OK1, &QPushButton::clicked, this, &CombinedWindow::Command_OK1_Click);

    addReadCycle({
        .button = Command_OK1,
        .acquisition = TM_Acquisition_A,
        .overtime = TM_Overtime_A,
        .addressBox = 0,
        .decode = [this] { Show_AI_Data(); },
    });
}

// Caption and ON/OFF indicator rows of a half-height digital panel.
template <typename Indicator>
static void placeRows(const QVector<QLabel *> &captions, const QVector<Indicator *> &indicators)
{
    for (int j = 0; j < indicators.size(); ++j) {
        const int top = 1320 + j * 480;
        captions[j]->setGeometry(twips(480), twips(top + 60), twips(900), twips(255));
        indicators[j]->setGeometry(twips(1440), twips(top), twips(1215), twips(375));
    }
}

void CombinedWindow::loadInputPanel()
{
    const ModelRow &m = model();
    Frame7 = addPanel(QStringLiteral("Frame7"), m.inputFrame, kSecondPanelLeft, kPanelTop, kPanelWidth, kHalfPanelHeight);
    const PanelHead head = addPanelHead(Frame7, QStringLiteral("Label17"), 1, QStringLiteral("Command_OK2"), kAcquisitionCaption, 720, 435);
    Label17 = head.caption;
    Command_OK2 = head.button;
    QVector<QLabel *> captions;
    for (int j = 0; j < m.inputs(); ++j) {
        // Numbered on from the analog captions: both sets are elements of Label18.
        auto *caption = named(new QLabel(m.inputCaptions[j], Frame7), element(QStringLiteral("Label18"), Label18.size()));
        Label18.append(caption);
        captions.append(caption);
        DI_SHOW.append(makeIndicator(Frame7, element(QStringLiteral("DI_SHOW"), j)));
    }
    placeRows(captions, DI_SHOW);
    connect(Command_OK2, &QPushButton::clicked, this, &CombinedWindow::Command_OK2_Click);

    addReadCycle({
        .button = Command_OK2,
        .acquisition = TM_Acquisition_B,
        .overtime = TM_Overtime_B,
        .addressBox = 1,
        .decode = [this] { Show_DI_Data(); },
    });
}

void CombinedWindow::loadOutputPanel()
{
    const ModelRow &m = model();
    Frame6 = addPanel(QStringLiteral("Frame6"), m.outputFrame, kSecondPanelLeft, kLowerPanelTop, kPanelWidth, kHalfPanelHeight);
    const PanelHead head = addPanelHead(Frame6, QStringLiteral("Label16"), 2, QStringLiteral("Command_OK3"), QStringLiteral("Validate"), 720, 435);
    Label16 = head.caption;
    Command_OK3 = head.button;
    for (int j = 0; j < m.outputs(); ++j) {
        Label15.append(named(new QLabel(m.outputCaptions[j], Frame6), element(QStringLiteral("Label15"), j)));
        auto *indicator = named(new ClickLabel(Frame6), element(QStringLiteral("DO_SHOW"), j));
        indicator->setAlignment(Qt::AlignCenter);
        indicator->setAutoFillBackground(true);
        indicator->setCursor(Qt::PointingHandCursor);
        connect(indicator, &ClickLabel::clicked, this, [this, j] { DO_SHOW_Click(j); });
        DO_SHOW.append(indicator);
    }
    placeRows(Label15, DO_SHOW);
    resetOutputs();
    connect(Command_OK3, &QPushButton::clicked, this, &CombinedWindow::Command_OK3_Click);

    WriteCycle write;
    write.button = Command_OK3;
    write.overtime = TM_Overtime_C;
    write.addressBox = 2;
    write.request = [this](std::uint8_t address) { return writeCoilsRequest(address, outputStates()); };
    setWriteCycle(write);
}

void CombinedWindow::Show_AI_Data()
{
    showRegisters(AI_SHOW);
}

void CombinedWindow::Show_DI_Data()
{
    // Four inputs: the low half of the data byte; the high half is never looked at.
    const QList<bool> on = digitalInputs(received(), int(DI_SHOW.size()));
    for (int b = 0; b < DI_SHOW.size(); ++b)
        setIndicator(DI_SHOW[b], on[b]);
}

void CombinedWindow::DO_SHOW_Click(int index)
{
    toggleOutput(index);
}
