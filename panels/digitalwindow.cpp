#include "digitalwindow.h"

#include "modbus.h"
#include "panellayout.h"

DigitalWindow::DigitalWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, model.twoColumns() ? kTwoColumnWidth : kOneColumnWidth, parent)
{
    if (model.inputs() > 0) {
        TM_Acquisition_A = makeTimer(QStringLiteral("TM_Acquisition_A"), model.lineAcquisitionA, [this] { TM_Acquisition_A_Timer(); });
        TM_Overtime_A = makeTimer(QStringLiteral("TM_Overtime_A"), model.lineOvertimeA, [this] { TM_Overtime_A_Timer(); });
    }
    if (model.outputs() > 0)
        TM_Overtime_B = makeTimer(QStringLiteral("TM_Overtime_B"), model.lineOvertimeB, [this] { judgeWrite(); });
}

// One row per channel below the panel's head; sixteen channels take two columns of eight.
static RowPlan digitalRows(int channels)
{
    if (channels > 8)
        return {.top = 1560, .pitch = 600, .captionLeft = 120, .captionDrop = 60, .captionWidth = 720,
                .valueLeft = 840, .valueWidth = 720, .valueHeight = 375, .perColumn = 8, .columnShift = 1560};
    return {.top = 1560, .pitch = 600, .captionLeft = 480, .captionDrop = 60, .captionWidth = 900,
            .valueLeft = 1440, .valueWidth = 1215, .valueHeight = 375};
}

void DigitalWindow::loadPanels()
{
    const ModelRow &m = model();
    int left = kFirstPanelLeft;
    if (m.inputs() > 0) {
        Frame7 = addPanel(QStringLiteral("Frame7"), m.inputFrame, left, kPanelTop, kPanelWidth, kPanelHeight);
        addReadHead(Frame7, Label17, QStringLiteral("Label17"), Command_OK1, QStringLiteral("Command_OK1"), TM_Acquisition_A,
                    TM_Overtime_A, [this] { Show_DI_Data(); });
        addInputRows(Frame7, m.inputCaptions, QStringLiteral("Label18"), 0, Label18, digitalRows(int(m.inputCaptions.size())), false);
        left = kSecondPanelLeft;
    }
    if (m.outputs() > 0) {
        Frame6 = addPanel(QStringLiteral("Frame6"), m.outputFrame, left, kPanelTop, kPanelWidth, kPanelHeight);
        addWriteHead(Frame6, Label16, QStringLiteral("Label16"), Command_OK2, QStringLiteral("Command_OK2"), 1, TM_Overtime_B,
                     [this](std::uint8_t address) { return writeCoilsRequest(address, outputStates()); });
        addOutputRows(Frame6, m.outputCaptions, QStringLiteral("Label15"), Label15, digitalRows(int(m.outputCaptions.size())), false);
    }
    finishCycles();
}
