#include "digitalwindow.h"

#include "decoders.h"
#include "modbus.h"
#include "panellayout.h"
#include "prompt.h"

DigitalWindow::DigitalWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, model.twoColumns() ? kTwoColumnWidth : kOneColumnWidth, parent)
{
    if (model.inputs() > 0) {
        TM_Acquisition_A = makeTimer(QStringLiteral("TM_Acquisition_A"), model.lineAcquisitionA);
        TM_Overtime_A = makeTimer(QStringLiteral("TM_Overtime_A"), model.lineOvertimeA);
        connect(TM_Acquisition_A, &WindowTimer::Timer, this, &DigitalWindow::TM_Acquisition_A_Timer);
        connect(TM_Overtime_A, &WindowTimer::Timer, this, &DigitalWindow::TM_Overtime_A_Timer);
    }
    if (model.outputs() > 0) {
        TM_Overtime_B = makeTimer(QStringLiteral("TM_Overtime_B"), model.lineOvertimeB);
        connect(TM_Overtime_B, &WindowTimer::Timer, this, &DigitalWindow::TM_Overtime_B_Timer);
    }
}

// One indicator row per channel below the panel's head (two columns of rows for sixteen channels).
template <typename Indicator>
static void layOutRows(QGroupBox *frame, const QStringList &captions, QVector<QLabel *> &captionLabels,
                       QVector<Indicator *> &indicators, const QString &captionName,
                       const QString &indicatorName, Indicator *(*make)(QWidget *, const QString &))
{
    const auto px = [](int t) { return twips(t); };
    const int n = int(captions.size());
    const bool twoColumns = n > 8;
    for (int i = 0; i < n; ++i) {
        const int column = twoColumns ? i / 8 : 0;
        const int row = twoColumns ? i % 8 : i;
        const int top = 1560 + row * 600;
        auto *caption = new QLabel(captions[i], frame);
        caption->setObjectName(QStringLiteral("%1_%2").arg(captionName).arg(i));
        Indicator *indicator = make(frame, QStringLiteral("%1_%2").arg(indicatorName).arg(i));
        if (twoColumns) {
            caption->setGeometry(px(120 + column * 1560), px(top + 60), px(720), px(255));
            indicator->setGeometry(px(840 + column * 1560), px(top), px(720), px(375));
        } else {
            caption->setGeometry(px(480), px(top + 60), px(900), px(255));
            indicator->setGeometry(px(1440), px(top), px(1215), px(375));
        }
        captionLabels.append(caption);
        indicators.append(indicator);
    }
}

static QLabel *plainIndicator(QWidget *parent, const QString &name)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    return label;
}

static ClickLabel *clickIndicator(QWidget *parent, const QString &name)
{
    auto *label = new ClickLabel(parent);
    label->setObjectName(name);
    return label;
}

void DigitalWindow::loadPanels()
{
    const ModelRow &m = model();
    int left = kFirstPanelLeft;
    if (m.inputs() > 0) {
        Frame7 = addPanel(QStringLiteral("Frame7"), m.inputFrame, left, kPanelTop, kPanelWidth, kPanelHeight);
        const PanelHead head = addPanelHead(Frame7, QStringLiteral("Label17"), 0, QStringLiteral("Command_OK1"), kAcquisitionCaption);
        Label17 = head.caption;
        Command_OK1 = head.button;
        layOutRows<QLabel>(Frame7, m.inputCaptions, Label18, DI_SHOW, QStringLiteral("Label18"), QStringLiteral("DI_SHOW"), plainIndicator);
        for (QLabel *indicator : DI_SHOW) {
            indicator->setAlignment(Qt::AlignCenter);
            setIndicator(indicator, false);
        }
        connect(Command_OK1, &QPushButton::clicked, this, &DigitalWindow::Command_OK1_Click);
        addReadCycle({
            .button = Command_OK1,
            .acquisition = TM_Acquisition_A,
            .overtime = TM_Overtime_A,
            .addressBox = 0,
            .decode = [this] { Show_DI_Data(); },
        });
        left = kSecondPanelLeft;
    }
    if (m.outputs() > 0) {
        Frame6 = addPanel(QStringLiteral("Frame6"), m.outputFrame, left, kPanelTop, kPanelWidth, kPanelHeight);
        const PanelHead head = addPanelHead(Frame6, QStringLiteral("Label16"), 1, QStringLiteral("Command_OK2"), QStringLiteral("Validate"));
        Label16 = head.caption;
        Command_OK2 = head.button;
        layOutRows<ClickLabel>(Frame6, m.outputCaptions, Label15, DO_SHOW, QStringLiteral("Label15"), QStringLiteral("DO_SHOW"), clickIndicator);
        for (int i = 0; i < DO_SHOW.size(); ++i) {
            DO_SHOW[i]->setAlignment(Qt::AlignCenter);
            DO_SHOW[i]->setCursor(Qt::PointingHandCursor);
            connect(DO_SHOW[i], &ClickLabel::clicked, this, [this, i] { DO_SHOW_Click(i); });
        }
        resetOutputs();
        connect(Command_OK2, &QPushButton::clicked, this, &DigitalWindow::Command_OK2_Click);
        WriteCycle write;
        write.button = Command_OK2;
        write.overtime = TM_Overtime_B;
        write.addressBox = 1;
        write.request = [this](std::uint8_t address) { return writeCoilsRequest(address, outputStates()); };
        setWriteCycle(write);
    }
    finishCycles();
}

void DigitalWindow::Show_DI_Data()
{
    const QList<bool> on = digitalInputs(received(), int(DI_SHOW.size()));
    for (int i = 0; i < DI_SHOW.size(); ++i)
        setIndicator(DI_SHOW[i], on[i]);
}

void DigitalWindow::DO_SHOW_Click(int index)
{
    toggleOutput(index);
}
