#include "combinedwindow.h"

#include "modbus.h"
#include "panellayout.h"

// The right column splits the height of the serial frame between the two digital panels.
constexpr int kHalfPanelHeight = 3375;
constexpr int kLowerPanelTop = kPanelTop + kPanelHeight - kHalfPanelHeight;

CombinedWindow::CombinedWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, kTwoColumnWidth, parent)
{
    // Cycle A polls the analog panel, cycle B the digital inputs; ResumeAcquisition names them 1 and 2.
    TM_Overtime_A = makeTimer(QStringLiteral("TM_Overtime_A"), model.lineOvertimeA, [this] { judgeRead(0); });
    TM_Overtime_B = makeTimer(QStringLiteral("TM_Overtime_B"), model.lineOvertimeB, [this] { judgeRead(1); });
    TM_Overtime_C = makeTimer(QStringLiteral("TM_Overtime_C"), model.lineOvertimeC, [this] { judgeWrite(); });
    TM_Acquisition_A = makeTimer(QStringLiteral("TM_Acquisition_A"), model.lineAcquisitionA, [this] { acquisitionTick(0); });
    TM_Acquisition_B = makeTimer(QStringLiteral("TM_Acquisition_B"), model.lineAcquisitionB, [this] { acquisitionTick(1); });
}

// The digital panels' rows in half the height.
constexpr RowPlan kHalfPanelRows{.top = 1320, .pitch = 480, .captionLeft = 480, .captionDrop = 60, .captionWidth = 900,
                                 .valueLeft = 1440, .valueWidth = 1215, .valueHeight = 375};

// The analog inputs in the middle column, the digital inputs above the outputs on the right.
void CombinedWindow::loadPanels()
{
    const ModelRow &m = model();
    Frame2 = addPanel(QStringLiteral("Frame2"), m.analogFrame, kFirstPanelLeft, kPanelTop, kPanelWidth, kPanelHeight);
    addReadHead(Frame2, Label6, QStringLiteral("Label6"), Command_OK1, QStringLiteral("Command_OK1"), TM_Acquisition_A,
                TM_Overtime_A, [this] { Show_AI_Data(); });
    addAnalogRows(Frame2, m.analogCaptions, m.channels(), QStringLiteral("Label18"), 0, Label18,
                  {.top = 1560, .pitch = 720, .captionLeft = 240, .captionDrop = 90, .captionWidth = 840,
                   .valueLeft = 1080, .valueWidth = 1935, .valueHeight = 435});

    Frame7 = addPanel(QStringLiteral("Frame7"), m.inputFrame, kSecondPanelLeft, kPanelTop, kPanelWidth, kHalfPanelHeight);
    addReadHead(Frame7, Label17, QStringLiteral("Label17"), Command_OK2, QStringLiteral("Command_OK2"), TM_Acquisition_B,
                TM_Overtime_B, [this] { Show_DI_Data(); }, 720, 435);
    // Numbered on from the analog captions: both sets are elements of Label18.
    addInputRows(Frame7, m.inputCaptions, QStringLiteral("Label18"), int(Label18.size()), Label18, kHalfPanelRows, true);

    Frame6 = addPanel(QStringLiteral("Frame6"), m.outputFrame, kSecondPanelLeft, kLowerPanelTop, kPanelWidth, kHalfPanelHeight);
    addWriteHead(Frame6, Label16, QStringLiteral("Label16"), Command_OK3, QStringLiteral("Command_OK3"), 2, TM_Overtime_C,
                 [this](std::uint8_t address) { return writeCoilsRequest(address, outputStates()); }, 720, 435);
    addOutputRows(Frame6, m.outputCaptions, QStringLiteral("Label15"), Label15, kHalfPanelRows, true);
    finishCycles();
}
