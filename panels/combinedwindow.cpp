#include "combinedwindow.h"

#include "modbus.h"
#include "panellayout.h"

// The right column splits the height of the serial frame between the two digital panels.
constexpr int kHalfPanelHeight = 3375;
constexpr int kLowerPanelTop = kPanelTop + kPanelHeight - kHalfPanelHeight;

CombinedWindow::CombinedWindow(const ModelRow &model, QWidget *parent)
    : TestWindow(model, kTwoColumnWidth, parent)
{
    TM_Overtime_A = makeTimer(QStringLiteral("TM_Overtime_A"), model.lineOvertimeA, [this] { TM_Overtime_A_Timer(); });
    TM_Overtime_B = makeTimer(QStringLiteral("TM_Overtime_B"), model.lineOvertimeB, [this] { TM_Overtime_B_Timer(); });
    TM_Overtime_C = makeTimer(QStringLiteral("TM_Overtime_C"), model.lineOvertimeC, [this] { TM_Overtime_C_Timer(); });
    TM_Acquisition_A = makeTimer(QStringLiteral("TM_Acquisition_A"), model.lineAcquisitionA, [this] { TM_Acquisition_A_Timer(); });
    TM_Acquisition_B = makeTimer(QStringLiteral("TM_Acquisition_B"), model.lineAcquisitionB, [this] { TM_Acquisition_B_Timer(); });
}

// The digital panels' rows in half the height.
constexpr RowPlan kHalfPanelRows{.top = 1320, .pitch = 480, .captionLeft = 480, .captionDrop = 60, .captionWidth = 900,
                                 .valueLeft = 1440, .valueWidth = 1215, .valueHeight = 375};

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
    addAnalogRows(Frame2, m.analogCaptions, m.channels(), QStringLiteral("Label18"), 0, Label18,
                  {.top = 1560, .pitch = 720, .captionLeft = 240, .captionDrop = 90, .captionWidth = 840,
                   .valueLeft = 1080, .valueWidth = 1935, .valueHeight = 435});
    connect(Command_OK1, &QPushButton::clicked, this, [this] { startStop(kCycleA); });

    m_cycles.append({
        .button = Command_OK1,
        .acquisition = TM_Acquisition_A,
        .overtime = TM_Overtime_A,
        .addressBox = 0,
        .decode = [this] { Show_AI_Data(); },
    });
}

void CombinedWindow::loadInputPanel()
{
    const ModelRow &m = model();
    Frame7 = addPanel(QStringLiteral("Frame7"), m.inputFrame, kSecondPanelLeft, kPanelTop, kPanelWidth, kHalfPanelHeight);
    const PanelHead head = addPanelHead(Frame7, QStringLiteral("Label17"), 1, QStringLiteral("Command_OK2"), kAcquisitionCaption, 720, 435);
    Label17 = head.caption;
    Command_OK2 = head.button;
    // Numbered on from the analog captions: both sets are elements of Label18.
    addInputRows(Frame7, m.inputCaptions, QStringLiteral("Label18"), int(Label18.size()), Label18, kHalfPanelRows, true);
    connect(Command_OK2, &QPushButton::clicked, this, [this] { startStop(kCycleB); });

    m_cycles.append({
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
    addOutputRows(Frame6, m.outputCaptions, QStringLiteral("Label15"), Label15, kHalfPanelRows, true);
    connect(Command_OK3, &QPushButton::clicked, this, &CombinedWindow::validate);

    m_write = {
        .button = Command_OK3,
        .overtime = TM_Overtime_C,
        .addressBox = 2,
        .request = [this](std::uint8_t address) { return writeCoilsRequest(address, outputStates()); },
    };
}
