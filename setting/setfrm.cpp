#include "setfrm.h"

#include "decoders.h"
#include "linesettings.h"
#include "modbus.h"
#include "prompt.h"

const QString kExplainMessage =
    QStringLiteral("You need keep only one module in RS485 network when you use this order.");

static const QString kValidate = QStringLiteral("Validate");

constexpr int kCombinations = 8;

static WindowTimer *fixedTimer(const QString &name, int ms, QObject *parent)
{
    auto *timer = new WindowTimer(name, parent);
    timer->setInterval(ms);
    return timer;
}

template <typename T>
static T *named(T *w, const QString &name)
{
    w->setObjectName(name);
    return w;
}

SetFrm::SetFrm(QWidget *parent)
    : ModuleWindow(QStringLiteral("SetFrm"), QStringLiteral("Parameter Setting"), 9375, 7080, parent)
{
    TM_Acquisition_A = fixedTimer(QStringLiteral("TM_Acquisition_A"), 150, this);
    TM_Overtime_A = fixedTimer(QStringLiteral("TM_Overtime_A"), 120, this);
    TM_Overtime_B = fixedTimer(QStringLiteral("TM_Overtime_B"), 300, this);
    connect(TM_Acquisition_A, &WindowTimer::Timer, this, &SetFrm::TM_Acquisition_A_Timer);
    connect(TM_Overtime_A, &WindowTimer::Timer, this, &SetFrm::TM_Overtime_A_Timer);
    connect(TM_Overtime_B, &WindowTimer::Timer, this, &SetFrm::TM_Overtime_B_Timer);
    setLongestReply(expectedReplyLength(parameterReadRequest()));
}

void SetFrm::loadPanels()
{
    Frame7 = named(new QGroupBox(QStringLiteral(" Module Parameter Reading "), this), QStringLiteral("Frame7"));
    place(Frame7, 2640, 120, 6615, 2415);
    Text_Parameter = named(new QPlainTextEdit(Frame7), QStringLiteral("Text_Parameter"));
    Text_Parameter->setReadOnly(true);
    place(Text_Parameter, 240, 480, 3255, 1695);
    Explain.append(named(new QPushButton(QStringLiteral("Explain"), Frame7), QStringLiteral("Explain_0")));
    place(Explain[0], 3720, 600, 2655, 495);
    Command_OK1 = named(new QPushButton(kReadCaption, Frame7), QStringLiteral("Command_OK1"));
    place(Command_OK1, 3720, 1440, 2655, 495);

    Frame2 = named(new QGroupBox(QStringLiteral(" Moudle Address Change "), this), QStringLiteral("Frame2"));
    place(Frame2, 2640, 2640, 6615, 1815);
    Label6 = named(new QLabel(QStringLiteral("New Moudle Address"), Frame2), QStringLiteral("Label6"));
    place(Label6, 240, 420, 3255, 255);
    place(makeAddressBox(0, Frame2), 240, 720, 3255, 300);
    Explain.append(named(new QPushButton(QStringLiteral("Explain"), Frame2), QStringLiteral("Explain_1")));
    place(Explain[1], 3720, 360, 2655, 495);
    Command_OK2 = named(new QPushButton(kValidate, Frame2), QStringLiteral("Command_OK2"));
    place(Command_OK2, 3720, 1080, 2655, 495);

    Frame3 = named(new QGroupBox(QStringLiteral(" Communication Parameter Change "), this), QStringLiteral("Frame3"));
    place(Frame3, 2640, 4560, 6615, 2415);
    Label7 = named(new QLabel(QStringLiteral("Moudle Address"), Frame3), QStringLiteral("Label7"));
    place(Label7, 240, 420, 3255, 255);
    place(makeAddressBox(1, Frame3), 240, 720, 3255, 300);
    Label8 = named(new QLabel(QStringLiteral("Communication Parameters"), Frame3), QStringLiteral("Label8"));
    place(Label8, 240, 1260, 3255, 255);
    Combo_Baud = new ChoiceBox(QStringLiteral("Combo_Baud"), Frame3);
    Combo_Baud->addItems(communicationParameterTexts());
    Combo_Baud->setCurrentIndex(1);
    place(Combo_Baud, 240, 1560, 3255, 300);
    Command_OK3 = named(new QPushButton(kValidate, Frame3), QStringLiteral("Command_OK3"));
    place(Command_OK3, 3720, 1440, 2655, 495);

    connect(Command_OK1, &QPushButton::clicked, this, &SetFrm::Command_OK1_Click);
    connect(Command_OK2, &QPushButton::clicked, this, &SetFrm::Command_OK2_Click);
    connect(Command_OK3, &QPushButton::clicked, this, &SetFrm::Command_OK3_Click);
    for (int i = 0; i < Explain.size(); ++i)
        connect(Explain[i], &QPushButton::clicked, this, [this, i] { Explain_Click(i); });
}

bool SetFrm::scanning() const
{
    return TM_Acquisition_A->isEnabled() || Command_OK1->text() == kStopCaption;
}

void SetFrm::endScan()
{
    Command_OK1->setText(kReadCaption);
    TM_Acquisition_A->setEnabled(false);
    ScanStep = 0;
}

void SetFrm::onPortClosed()
{
    // A port the technician closed must not be reopened by the next scan step.
    if (scanning())
        endScan();
}

void SetFrm::onLineLost()
{
    endScan();
}

void SetFrm::Command_OK1_Click()
{
    if (!portIsOpen()) {
        Prompt(this, kOpenPortFirst);
        return;
    }
    if (Command_OK1->text() == kReadCaption) {
        Command_OK1->setText(kStopCaption);
        TM_Acquisition_A->setEnabled(true);
    } else {
        // ScanStep stays, so "Read" goes on where the scan stopped; an armed time-out is still judged.
        Command_OK1->setText(kReadCaption);
        TM_Acquisition_A->setEnabled(false);
    }
}

// Sets a box to a text of its list, keeping its list position in step with the text.
static void showListText(QComboBox *box, const QString &text)
{
    const int index = box->findText(text);
    if (index >= 0)
        box->setCurrentIndex(index);
    else
        box->setEditText(text);
}

void SetFrm::TM_Acquisition_A_Timer()
{
    // Only a port closed behind the scan's back gets here closed (the scan's own reopen failures
    // end it below); reopening it would override the technician.
    if (!portIsOpen()) {
        endScan();
        return;
    }
    // The previous request's time-out is due 30 ms before this tick, but a busy event loop can
    // deliver this tick first. Judge that request now: the reopen below would lose its reply, and
    // a module that did answer must end the scan rather than be skipped.
    if (TM_Overtime_A->isEnabled()) {
        TM_Overtime_A_Timer();
        if (!TM_Acquisition_A->isEnabled())
            return;
    }
    MSComm1->close();
    if (ScanStep >= 0 && ScanStep < kCombinations) {
        const int code = ScanStep + 1;
        const bool even = code > 4;
        showListText(Combo2, communicationParameterTexts()[ScanStep].section(QLatin1Char(','), 0, 0));
        showListText(Combo3, even ? QStringLiteral("Even") : QStringLiteral("None"));
        ParityLetter = even ? QStringLiteral("E") : QStringLiteral("N");
    }
    CommSettings = Combo2->currentText() + QLatin1Char(',') + ParityLetter + QLatin1Char(',')
                   + Combo4->currentText() + QLatin1Char(',') + Combo5->currentText();
    ConfigurePort(portNumber());
    if (!portIsOpen() || !MSComm1->isOpen()) {
        // ConfigurePort has told the user; a scan on a port that will not open is over.
        endScan();
        return;
    }
    ++ScanStep;
    Send_Parameter_Read();
}

void SetFrm::Send_Parameter_Read()
{
    Text_Parameter->clear();
    clearExchange();
    sendFrame(parameterReadRequest());
    // Each request gets its full time-out, even if an earlier one is still armed.
    TM_Overtime_A->setEnabled(false);
    TM_Overtime_A->setEnabled(true);
}

void SetFrm::TM_Overtime_A_Timer()
{
    if (AcceptReply(ReceiveHex, SendHex, expectedReplyLength(parameterReadRequest()))) {
        Text_Receive->setPlainText(ReceiveHex);
        Show_Parameter_Data();
        Text_Message->setPlainText(kDataNormal);
        endScan();
    } else {
        Text_Message->setPlainText(kDataError);
        if (ScanStep >= kCombinations)
            endScan();
    }
    TM_Overtime_A->setEnabled(false);
}

void SetFrm::Show_Parameter_Data()
{
    Text_Parameter->setPlainText(parameterLines(moduleParameters(bytesFromHexText(ReceiveHex))));
}

void SetFrm::Explain_Click(int index)
{
    Q_UNUSED(index);
    Prompt(this, kExplainMessage);
}

void SetFrm::Command_OK2_Click()
{
    clearExchange();
    if (!portIsOpen()) {
        Prompt(this, kOpenPortFirst);
        return;
    }
    const auto address = requestAddress(0, kAddressNotSelected);
    if (!address)
        return;
    sendFrame(addressWriteRequest(*address));
    TM_Overtime_B->setEnabled(false);
    TM_Overtime_B->setEnabled(true);
}

void SetFrm::Command_OK3_Click()
{
    clearExchange();
    if (!portIsOpen()) {
        Prompt(this, kOpenPortFirst);
        return;
    }
    const auto address = requestAddress(1, kAddressNotSelected);
    if (!address)
        return;
    const int code = communicationParameterCode(Combo_Baud->currentText());
    if (code == 0) {
        // Code 0 is no setting a module can take; writing it would leave the module unreachable
        // or refuse the request, depending on its firmware.
        Prompt(this, kParametersNotValid);
        return;
    }
    sendFrame(commWriteRequest(*address, std::uint8_t(code)));
    TM_Overtime_B->setEnabled(false);
    TM_Overtime_B->setEnabled(true);
}

void SetFrm::TM_Overtime_B_Timer()
{
    if (AcceptReply(ReceiveHex, SendHex, expectedReplyLength(addressWriteRequest(0)))) {
        Text_Receive->setPlainText(ReceiveHex);
        Text_Message->setPlainText(kDataNormal);
    } else {
        Text_Message->setPlainText(kDataError);
    }
    TM_Overtime_B->setEnabled(false);
}

ModuleWindow *createSetFrm(QWidget *parent)
{
    auto *w = new SetFrm(parent);
    w->Form_Load();
    return w;
}
