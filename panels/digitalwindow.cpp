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

// Lays out one panel: address caption and box, its button, and one indicator row per channel
// (two columns of rows for sixteen channels).
template <typename Indicator>
static void layOutPanel(QGroupBox *frame, QLabel *addressCaption, QComboBox *addressBox,
                        QPushButton *button, const QStringList &captions, QVector<QLabel *> &captionLabels,
                        QVector<Indicator *> &indicators, const QString &captionName,
                        const QString &indicatorName, Indicator *(*make)(QWidget *, const QString &))
{
    const auto px = [](int t) { return twips(t); };
    addressCaption->setGeometry(px(120), px(420), px(1455), px(255));
    addressBox->setGeometry(px(1560), px(360), px(1095), px(300));
    button->setGeometry(px(720), px(840), px(1815), px(495));
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
        Frame7 = new QGroupBox(m.inputFrame, this);
        Frame7->setObjectName(QStringLiteral("Frame7"));
        place(Frame7, left, kPanelTop, kPanelWidth, kPanelHeight);
        Label17 = new QLabel(QStringLiteral("Moudle Address"), Frame7);
        Label17->setObjectName(QStringLiteral("Label17"));
        Command_OK1 = new QPushButton(kAcquisitionCaption, Frame7);
        Command_OK1->setObjectName(QStringLiteral("Command_OK1"));
        layOutPanel<QLabel>(Frame7, Label17, makeAddressBox(0, Frame7), Command_OK1, m.inputCaptions,
                            Label18, DI_SHOW, QStringLiteral("Label18"), QStringLiteral("DI_SHOW"), plainIndicator);
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
        Frame6 = new QGroupBox(m.outputFrame, this);
        Frame6->setObjectName(QStringLiteral("Frame6"));
        place(Frame6, left, kPanelTop, kPanelWidth, kPanelHeight);
        Label16 = new QLabel(QStringLiteral("Moudle Address"), Frame6);
        Label16->setObjectName(QStringLiteral("Label16"));
        Command_OK2 = new QPushButton(QStringLiteral("Validate"), Frame6);
        Command_OK2->setObjectName(QStringLiteral("Command_OK2"));
        layOutPanel<ClickLabel>(Frame6, Label16, makeAddressBox(1, Frame6), Command_OK2, m.outputCaptions,
                                Label15, DO_SHOW, QStringLiteral("Label15"), QStringLiteral("DO_SHOW"), clickIndicator);
        for (int i = 0; i < DO_SHOW.size(); ++i) {
            DO_SHOW[i]->setAlignment(Qt::AlignCenter);
            DO_SHOW[i]->setCursor(Qt::PointingHandCursor);
            setIndicator(DO_SHOW[i], false);
            connect(DO_SHOW[i], &ClickLabel::clicked, this, [this, i] { DO_SHOW_Click(i); });
        }
        connect(Command_OK2, &QPushButton::clicked, this, &DigitalWindow::Command_OK2_Click);
        WriteCycle write;
        write.button = Command_OK2;
        write.overtime = TM_Overtime_B;
        write.addressBox = 1;
        write.request = [this](std::uint8_t address) { return writeCoilsRequest(address, outputStates(DO_SHOW)); };
        setWriteCycle(write);
    }
    finishCycles();
}

void DigitalWindow::Show_DI_Data()
{
    const QList<bool> on = digitalInputs(bytesFromHexText(ReceiveHex), int(DI_SHOW.size()));
    for (int i = 0; i < DI_SHOW.size(); ++i)
        setIndicator(DI_SHOW[i], on[i]);
}

void DigitalWindow::DO_SHOW_Click(int index)
{
    toggleIndicator(DO_SHOW[index]);
}
