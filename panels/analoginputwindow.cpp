#include "analoginputwindow.h"

#include "modbus.h"
#include "panellayout.h"

// Eight registers, one a channel.
constexpr int kChannels = 8;

AnalogInputWindow::AnalogInputWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, kOneColumnWidth, parent)
{
    TM_Acquisition_A = makeTimer(QStringLiteral("TM_Acquisition_A"), model.lineAcquisitionA, [this] { TM_Acquisition_A_Timer(); });
    TM_Overtime_A = makeTimer(QStringLiteral("TM_Overtime_A"), model.lineOvertimeA, [this] { TM_Overtime_A_Timer(); });
}

void AnalogInputWindow::loadPanels()
{
    const ModelRow &m = model();
    Frame7 = addPanel(QStringLiteral("Frame7"), m.analogFrame, kFirstPanelLeft, kPanelTop, kPanelWidth, kPanelHeight);
    // Unlike the digital inputs, the values follow every accepted reply, even one that arrives
    // after "Stop": the reading is still the module's latest.
    addReadHead(Frame7, Label17, QStringLiteral("Label17"), Command_OK1, QStringLiteral("Command_OK1"), TM_Acquisition_A,
                TM_Overtime_A, [this] { Show_AI_Data(); });
    // Channel 1 at the top; the value labels are wide enough for "-5553.4℃" and "Not Connect".
    addAnalogRows(Frame7, m.analogCaptions, kChannels, QStringLiteral("Label18"), 0, Label18,
                  {.top = 1560, .pitch = 600, .captionLeft = 240, .captionDrop = 60, .captionWidth = 780,
                   .valueLeft = 1080, .valueWidth = 2040, .valueHeight = 375});
    finishCycles();
}
