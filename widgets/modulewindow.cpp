#include "modulewindow.h"

#include "prompt.h"
#include "portsdialog.h"
#include "linesettings.h"
#include "modbus.h"
#include "numtext.h"
#include "settingsfiles.h"

#include <QAction>
#include <QCloseEvent>
#include <QDateTime>
#include <QTimer>

#include <chrono>
#include <utility>

void ProgramParity::take(const QString &parityText)
{
    if (const std::optional<char> letter = parityFromName(parityText))
        set(*letter);
}

const QString kDataNormal = QStringLiteral("Communication Data Normal！");
const QString kDataError = QStringLiteral("Communication Data Error！");

static qint64 steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

ModuleWindow::ModuleWindow(const QString &name, const QString &caption, int widthTwips,
                           int heightTwips, QWidget *parent)
    : QWidget(parent), m_comm(new ModuleLine(this)), Frame1(new SerialGroup(this)), Combo1(Frame1->Combo1),
      Combo2(Frame1->Combo2), Combo3(Frame1->Combo3), Combo4(Frame1->Combo4), Combo5(Frame1->Combo5),
      Command_Port(Frame1->Command_Port), Shape1(Frame1->Shape1), Text_Send(Frame1->Text_Send),
      Text_Receive(Frame1->Text_Receive), Text_Message(Frame1->Text_Message)
{
    setObjectName(name);
    setWindowTitle(caption);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(widthTwips), twips(heightTwips));

    // A new port, baud rate or parity picked while the port is open closes it.
    for (ChoiceBox *box : {Combo1, Combo2, Combo3})
        connect(box, &QComboBox::activated, this, [this] {
            if (portIsOpen())
                Command_Port_Click();
        });
    // The tool tip names the device the port text stands for, whether the text was picked,
    // typed, pasted or set from set.rc.
    connect(Combo1, &QComboBox::currentTextChanged, this, [this] { Combo1->setToolTip(m_comm->deviceName(portNumber())); });
    connect(Command_Port, &QPushButton::clicked, this, [this] { Command_Port_Click(); });
    connect(m_comm, &ModuleLine::failed, this, &ModuleWindow::onLineFailed);

    m_comm->setWatcher([this](const QByteArray &bytes) {
        m_lastByteNs = steadyNs();
        m_traffic.received(bytes, QDateTime::currentMSecsSinceEpoch(), m_lastByteNs);
        onBytes();
    });
    m_traffic.setSink([this](const TrafficRow &row) {
        if (m_hooks.trafficSink)
            m_hooks.trafficSink(windowTitle(), row);
    });
    auto *monitor = new QAction(QStringLiteral("Traffic monitor…"), this);
    monitor->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(monitor, &QAction::triggered, this, [this] {
        if (m_hooks.openMonitor)
            m_hooks.openMonitor(this);
    });
    addAction(monitor);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    QAction *ports = addPortsEntry(this, Combo1);
    // The text boxes keep their own menu (copy, select all) with the monitor and the ports added.
    for (TextBox *box : {Text_Send, Text_Receive, Text_Message})
        box->addActions({monitor, ports});
    const QString hint = QStringLiteral("Right-click or Ctrl+T: traffic monitor");
    Text_Send->setToolTip(hint);
    Text_Receive->setToolTip(hint);
}

ModuleWindow::~ModuleWindow() = default;

double ModuleWindow::msSinceLastByte() const
{
    return double(steadyNs() - m_lastByteNs) / 1e6;
}

void ModuleWindow::whenLineIdle(std::function<void()> work)
{
    if (!m_traffic.waiting()) {
        work();
        return;
    }
    m_idleWork.push_back(std::move(work));
    // A request that is never judged (its cycle stopped, the port closed) holds nothing back long.
    QTimer::singleShot(kIdleWaitMs, this, [this] { runIdleWork(); });
}

void ModuleWindow::runIdleWork()
{
    for (const std::function<void()> &work : std::exchange(m_idleWork, {}))
        work();
}

void ModuleWindow::place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

void ModuleWindow::Form_Load()
{
    setProgramIcon(this);
    const SerialChoice choice = readSetRc(sysFilePath(QStringLiteral("set.rc")));
    loadTimings();

    Frame1->show(choice);

    loadPanels();
}

QComboBox *ModuleWindow::makeAddressBox(int index, QWidget *parent)
{
    auto *box = new ChoiceBox(QStringLiteral("Combo_Addr_%1").arg(index), parent);
    for (int a = kFirstModuleAddress; a <= kLastModuleAddress; ++a)
        box->addItem(QString::number(a));
    box->setCurrentIndex(0);
    if (Combo_Addr.size() <= index)
        Combo_Addr.resize(index + 1);
    Combo_Addr[index] = box;
    return box;
}

ModuleWindow *ModuleWindow::handOver(const QString &model, int n, int baud, char parity, int address)
{
    ModuleWindow *w = s_openWindow ? s_openWindow(model) : nullptr;
    if (!w)
        return nullptr;
    w->Combo1->setCurrentIndex(n - 1); // its tool tip follows the text
    w->Combo2->setCurrentIndex(w->Combo2->findText(QString::number(baud)));
    w->Combo3->setCurrentIndex(w->Combo3->findText(parityName(parity)));
    for (QComboBox *box : std::as_const(w->Combo_Addr))
        if (box)
            box->setEditText(QString::number(address));
    return w;
}

QGroupBox *ModuleWindow::addPanel(const QString &name, const QString &caption, int left, int top, int width, int height)
{
    return placed(new QGroupBox(caption, this), name, left, top, width, height);
}

ModuleWindow::PanelHead ModuleWindow::addPanelHead(QGroupBox *panel, const QString &captionName, int addressIndex,
                                                   const QString &buttonName, const QString &buttonCaption,
                                                   int buttonTop, int buttonHeight)
{
    PanelHead head;
    head.caption = placed(new QLabel(QStringLiteral("Moudle Address"), panel), captionName, 120, buttonTop - 420, 1455, 255);
    head.addressBox = makeAddressBox(addressIndex, panel);
    head.addressBox->setGeometry(twips(1560), twips(buttonTop - 480), twips(1095), twips(300));
    head.button = placed(new QPushButton(buttonCaption, panel), buttonName, 720, buttonTop, 1815, buttonHeight);
    return head;
}

void ModuleWindow::Command_Port_Click()
{
    if (portIsOpen()) {
        m_comm->close();
        Frame1->showOpen(false);
        onPortClosed();
        Pause(500);
        return;
    }
    const int n = portNumber();
    if (!ProbePort(n))
        return;
    Frame1->showOpen(true);
    ProgramParity::take(Combo3->currentText());
    ConfigurePort(n, lineSettings());
}

QString ModuleWindow::lineSettings() const
{
    return settingsText(Combo2->currentText(), ProgramParity::letter(), Combo4->currentText(), Combo5->currentText());
}

bool ModuleWindow::ProbePort(int n)
{
    const SerialLine::Result r = m_comm->probe(n);
    const QString device = m_comm->deviceName(n);
    Combo1->setToolTip(r.detail.isEmpty() ? device : device + QStringLiteral(": ") + r.detail);
    switch (r.fault) {
    case SerialLine::Fault::None:
        return true;
    case SerialLine::Fault::DoesNotExist:
        // A device server that cannot be reached says why (host unknown, refused, no answer).
        Prompt(this, r.showDetail && !r.detail.isEmpty() ? QStringLiteral("Serial port does not exist！\n") + r.detail
                                                         : QStringLiteral("Serial port does not exist！"));
        return false;
    case SerialLine::Fault::InUse:
        Prompt(this, QStringLiteral("Serial port is already open！"));
        return false;
    case SerialLine::Fault::Other:
        // Where the reason is known (most often a user who may not open the device) say it.
        Prompt(this, r.detail.isEmpty() ? QStringLiteral("Other error")
                                        : QStringLiteral("Other error\n") + r.detail);
        return false;
    }
    return false;
}

bool ModuleWindow::ConfigurePort(int n, const QString &settings)
{
    if (m_comm->open(n, settings).ok())
        return true;
    Prompt(this, QStringLiteral("Serial fault, Please check the serial port"));
    Frame1->showOpen(false);
    return false;
}

void ModuleWindow::onLineFailed()
{
    if (!portIsOpen())
        return;
    Frame1->showOpen(false);
    onLineLost();
    Prompt(this, QStringLiteral("Serial fault, Please check the serial port"));
}

void ModuleWindow::clearExchange()
{
    Text_Message->clear();
    m_comm->clear();
    Text_Send->clear();
    Text_Receive->clear();
}

void ModuleWindow::applyExchange(const CycleAction &action)
{
    switch (action.kind) {
    case CycleAction::Pause: Pause(action.ms); break;
    case CycleAction::Clear: clearExchange(); break;
    case CycleAction::Prompt: Prompt(this, action.text); break;
    case CycleAction::Send:
        m_comm->send(action.frame);
        Text_Send->setPlainText(HexText(m_comm->sent())); // as it went over the wire
        m_traffic.sent(m_comm->sent(), QDateTime::currentMSecsSinceEpoch(), steadyNs(), m_trafficTag);
        break;
    default: break;
    }
}

void ModuleWindow::recordVerdict(const ReplyVerdict &verdict, int echoBytes, bool lineEchoes)
{
    m_traffic.judged(verdict, QDateTime::currentMSecsSinceEpoch(), steadyNs(), echoBytes);
    if (lineEchoes && !m_comm->echoKnown())
        m_comm->learnEcho(); // known to the line from now on
    runIdleWork(); // before the next request goes
}

void ModuleWindow::apply(const CycleActions &actions)
{
    const TextBox::Pass pass; // the boxes set here repainted once, at the end
    for (const CycleAction &a : actions) {
        switch (a.kind) {
        case CycleAction::Enable:
        case CycleAction::Disable:
            cycleTimer(a.timer)->setEnabled(a.kind == CycleAction::Enable);
            break;
        case CycleAction::Caption:
            cycleButton(a.cycle)->setText(a.text);
            break;
        case CycleAction::Judged:
            recordVerdict(a.verdict, int(a.echo.size()), a.echoKnown);
            m_reply = a.reply;
            if (!a.verdict.accepted()) {
                Text_Message->setPlainText(kDataError);
            } else {
                Text_Receive->setPlainText(ReceiveHex());
                if (a.decode)
                    decodeReply(a);
                Text_Message->setPlainText(kDataNormal);
            }
            if (a.decode)
                keepReply(a);
            break;
        default:
            applyExchange(a);
            break;
        }
        mirrorMachine();
    }
}

void ModuleWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
    QString error;
    if (m_writesSetRc && !writeSetRc(sysFilePath(QStringLiteral("set.rc")), Frame1->choice(), &error))
        Prompt(this, QStringLiteral("Cannot write %1: %2").arg(sysFileLabel(QStringLiteral("set.rc")), error));
    if (m_showsMainOnClose && m_hooks.showMain)
        m_hooks.showMain();
}
