#include "setfrm.h"

#include "decoders.h"
#include "linesettings.h"
#include "modbus.h"
#include "prompt.h"

const QString kExplainMessage =
    QStringLiteral("You need keep only one module in RS485 network when you use this order.");

static const QString kValidate = QStringLiteral("Validate");

static WindowTimer *fixedTimer(const QString &name, int ms, SetFrm *window, const std::function<void()> &fire)
{
    auto *timer = new WindowTimer(name, window);
    timer->setInterval(ms);
    QObject::connect(timer, &WindowTimer::Timer, window, fire);
    return timer;
}

SetFrm::SetFrm(QWidget *parent)
    : ModuleWindow(QStringLiteral("SetFrm"), QStringLiteral("Parameter Setting"), 9375, 7080, parent)
{
    TM_Acquisition_A = fixedTimer(QStringLiteral("TM_Acquisition_A"), ParameterCycle::kTickMs, this, [this] { TM_Acquisition_A_Timer(); });
    TM_Overtime_A = fixedTimer(QStringLiteral("TM_Overtime_A"), ParameterCycle::kReadTimeoutMs, this,
                               [this] {
                                   m_scan.framing = framing();
                                   apply(m_scan.readTimeout(received(), echoKnown()));
                               });
    TM_Overtime_B = fixedTimer(QStringLiteral("TM_Overtime_B"), ParameterCycle::kWriteTimeoutMs, this,
                               [this] {
                                   m_scan.framing = framing();
                                   apply(m_scan.writeTimeout(received(), echoKnown()));
                               });
    setLongestReply(expectedReplyLength(parameterReadRequest()));
    // The scan's frames carry the baud rate and parity of their step.
    describeTraffic(qMax(expectedReplyLength(parameterReadRequest()), int(addressWriteRequest(1).size())), true);
}

void SetFrm::loadPanels()
{
    Frame7 = addPanel(QStringLiteral("Frame7"), QStringLiteral(" Module Parameter Reading "), 2640, 120, 6615, 2415);
    Text_Parameter = placed(new QPlainTextEdit(Frame7), QStringLiteral("Text_Parameter"), 240, 480, 3255, 1695);
    Text_Parameter->setReadOnly(true);
    Explain.append(placed(new QPushButton(QStringLiteral("Explain"), Frame7), QStringLiteral("Explain_0"), 3720, 600, 2655, 495));
    Command_OK1 = placed(new QPushButton(kReadCaption, Frame7), QStringLiteral("Command_OK1"), 3720, 1440, 2655, 495);

    Frame2 = addPanel(QStringLiteral("Frame2"), QStringLiteral(" Moudle Address Change "), 2640, 2640, 6615, 1815);
    Label6 = placed(new QLabel(QStringLiteral("New Moudle Address"), Frame2), QStringLiteral("Label6"), 240, 420, 3255, 255);
    place(makeAddressBox(0, Frame2), 240, 720, 3255, 300);
    Explain.append(placed(new QPushButton(QStringLiteral("Explain"), Frame2), QStringLiteral("Explain_1"), 3720, 360, 2655, 495));
    Command_OK2 = placed(new QPushButton(kValidate, Frame2), QStringLiteral("Command_OK2"), 3720, 1080, 2655, 495);

    Frame3 = addPanel(QStringLiteral("Frame3"), QStringLiteral(" Communication Parameter Change "), 2640, 4560, 6615, 2415);
    Label7 = placed(new QLabel(QStringLiteral("Moudle Address"), Frame3), QStringLiteral("Label7"), 240, 420, 3255, 255);
    place(makeAddressBox(1, Frame3), 240, 720, 3255, 300);
    Label8 = placed(new QLabel(QStringLiteral("Communication Parameters"), Frame3), QStringLiteral("Label8"), 240, 1260, 3255, 255);
    Combo_Baud = new ChoiceBox(QStringLiteral("Combo_Baud"), Frame3);
    Combo_Baud->addItems(communicationParameterTexts());
    Combo_Baud->setCurrentIndex(1);
    place(Combo_Baud, 240, 1560, 3255, 300);
    Command_OK3 = placed(new QPushButton(kValidate, Frame3), QStringLiteral("Command_OK3"), 3720, 1440, 2655, 495);

    connect(Command_OK1, &QPushButton::clicked, this, [this] { apply(m_scan.click(portIsOpen())); });
    // The writes carry no line tag: they go at whatever the line is set to.
    connect(Command_OK2, &QPushButton::clicked, this, [this] {
        setTrafficTag({});
        apply(m_scan.writeAddress(portIsOpen(), addressFromBox(Combo_Addr[0]->currentText(), kAddressNotSelected)));
    });
    connect(Command_OK3, &QPushButton::clicked, this, [this] {
        setTrafficTag({});
        apply(m_scan.writeParameters(portIsOpen(), addressFromBox(Combo_Addr[1]->currentText(), kAddressNotSelected),
                                     Combo_Baud->currentText()));
    });
    for (QPushButton *explain : std::as_const(Explain))
        connect(explain, &QPushButton::clicked, this, [this] { Prompt(this, kExplainMessage); });
}

WindowTimer *SetFrm::cycleTimer(TimerRef ref) const
{
    return ref.kind == TimerRef::Acquisition ? TM_Acquisition_A
           : ref.kind == TimerRef::ReadTimeout ? TM_Overtime_A
                                               : TM_Overtime_B;
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
    m_scan.framing = framing();
    const CycleActions actions = m_scan.tick(portIsOpen(), received(), echoKnown());
    apply(actions);
    if (actions.isEmpty() || actions.last().kind != CycleAction::Reopen)
        return;
    const int step = actions.last().step;
    if (step >= 0 && step < ParameterCycle::kSteps) {
        const LineSettings coded = codeSettings(step + 1);
        showListText(Combo2, QString::number(coded.baud));
        showListText(Combo3, parityName(coded.parity));
        ProgramParity::set(coded.parity);
    }
    setTrafficTag(Combo2->currentText() + QLatin1Char(',') + Combo3->currentText());
    if (!ConfigurePort(portNumber(), lineSettings()) || !portIsOpen()) {
        // ConfigurePort has told the user; a scan on a port that will not open is over.
        apply(m_scan.reopened(false));
        return;
    }
    Text_Parameter->clear();
    apply(m_scan.reopened(true));
}

ModuleWindow *createSetFrm(QWidget *parent)
{
    auto *w = new SetFrm(parent);
    w->Form_Load();
    return w;
}
