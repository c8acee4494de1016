#include "analoginputwindow.h"

#include "modbus.h"
#include "panellayout.h"
#include "prompt.h"

// Eight registers, one a channel.
constexpr int kChannels = 8;

AnalogInputWindow::AnalogInputWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, kOneColumnWidth, parent)
{
    TM_Acquisition_A = makeTimer(QStringLiteral("TM_Acquisition_A"), model.lineAcquisitionA);
    TM_Overtime_A = makeTimer(QStringLiteral("TM_Overtime_A"), model.lineOvertimeA);
    connect(TM_Acquisition_A, &WindowTimer::Timer, this, &AnalogInputWindow::TM_Acquisition_A_Timer);
    connect(TM_Overtime_A, &WindowTimer::Timer, this, &AnalogInputWindow::TM_Overtime_A_Timer);
}

void AnalogInputWindow::loadPanels()
{
    const ModelRow &m = model();
    Frame7 = new QGroupBox(m.analogFrame, this);
    Frame7->setObjectName(QStringLiteral("Frame7"));
    place(Frame7, kFirstPanelLeft, kPanelTop, kPanelWidth, kPanelHeight);

    const auto px = [](int t) { return twips(t); };
    Label17 = new QLabel(QStringLiteral("Moudle Address"), Frame7);
    Label17->setObjectName(QStringLiteral("Label17"));
    Label17->setGeometry(px(120), px(420), px(1455), px(255));
    makeAddressBox(0, Frame7)->setGeometry(px(1560), px(360), px(1095), px(300));
    Command_OK1 = new QPushButton(kAcquisitionCaption, Frame7);
    Command_OK1->setObjectName(QStringLiteral("Command_OK1"));
    Command_OK1->setGeometry(px(720), px(840), px(1815), px(495));

    // Channel 1 at the top; the value labels are wide enough for "-5553.4℃" and "Not Connect".
    for (int i = 0; i < kChannels; ++i) {
        const int top = 1560 + i * 600;
        auto *caption = new QLabel(m.analogCaptions.value(i), Frame7);
        caption->setObjectName(QStringLiteral("Label18_%1").arg(i));
        caption->setGeometry(px(240), px(top + 60), px(780), px(255));
        QLabel *value = makeValueLabel(Frame7, QStringLiteral("AI_SHOW_%1").arg(i));
        value->setGeometry(px(1080), px(top), px(2040), px(375));
        Label18.append(caption);
        AI_SHOW.append(value);
    }

    connect(Command_OK1, &QPushButton::clicked, this, &AnalogInputWindow::Command_OK1_Click);
    // Unlike the digital inputs, the values follow every accepted reply, even one that arrives
    // after "Stop": the reading is still the module's latest.
    addReadCycle({
        .button = Command_OK1,
        .acquisition = TM_Acquisition_A,
        .overtime = TM_Overtime_A,
        .addressBox = 0,
        .decode = [this] { Show_AI_Data(); },
    });
    finishCycles();
}

void AnalogInputWindow::Show_AI_Data()
{
    showRegisters(AI_SHOW);
}
