#include "portsdialog.h"

#include "linecheck.h"
#include "moduleline.h"
#include "ports.h"
#include "prompt.h"
#include "settingsfiles.h"
#include "widgets.h"

#include <QAction>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

QString g_systemRoot = QStringLiteral("/");

const QString kDialoutFix = QStringLiteral("sudo usermod -aG dialout $USER, then log in again");

QString accessText(const SerialPortEntry &port)
{
    if (port.mayOpen)
        return QStringLiteral("yes");
    return port.exists ? QStringLiteral("no: ") + kDialoutFix : QStringLiteral("no (no device node)");
}

bool echoSeenOn(const SerialPortEntry &port)
{
    const QStringList seen = ModuleLine::echoSeen();
    return std::any_of(seen.begin(), seen.end(), [&port](const QString &device) { return sameDevice(port.device, device); });
}

// The port box's text menu (cut, copy, paste) with "Ports…" below it.
class PortsMenu : public QObject
{
public:
    PortsMenu(QLineEdit *edit, QAction *ports) : QObject(edit), m_edit(edit), m_ports(ports) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_edit || event->type() != QEvent::ContextMenu)
            return false;
        QMenu *menu = m_edit->createStandardContextMenu();
        menu->setObjectName(QStringLiteral("PortBoxMenu"));
        menu->addSeparator();
        menu->addAction(m_ports);
        menu->exec(static_cast<QContextMenuEvent *>(event)->globalPos());
        delete menu;
        return true;
    }

private:
    QLineEdit *m_edit;
    QAction *m_ports;
};

} // namespace

void PortsDialog::setSystemRoot(const QString &root)
{
    g_systemRoot = root;
}

PortsDialog::PortsDialog(int comNumber, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("PortsDialog"));
    setWindowTitle(QStringLiteral("Ports"));
    Table_Ports = named(new QTableWidget(0, Columns, this), QStringLiteral("Table_Ports"));
    Table_Ports->setHorizontalHeaderLabels({QStringLiteral("Device"), QStringLiteral("By-id name"), QStringLiteral("Description"),
                                            QStringLiteral("Manufacturer"), QStringLiteral("Serial number"),
                                            QStringLiteral("May open"), QStringLiteral("Latency timer"), QStringLiteral("Echo")});
    Table_Ports->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table_Ports->setSelectionMode(QAbstractItemView::SingleSelection);
    Table_Ports->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table_Ports->verticalHeader()->hide();
    Table_Ports->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    Text_Advice = named(new QPlainTextEdit(this), QStringLiteral("Text_Advice"));
    Text_Advice->setReadOnly(true);
    Combo_Com = named(new QComboBox(this), QStringLiteral("Combo_Com"));
    for (int n = 1; n <= 9; ++n)
        Combo_Com->addItem(QStringLiteral("COM%1").arg(n));
    Combo_Com->setCurrentIndex(comNumber >= 1 && comNumber <= 9 ? comNumber - 1 : 0);
    Label_Com = named(new QLabel(this), QStringLiteral("Label_Com"));
    Command_UseAs = named(new QPushButton(this), QStringLiteral("Command_UseAs"));
    Check_Echo = named(new QCheckBox(QStringLiteral("echo"), this), QStringLiteral("Check_Echo"));
    Check_Echo->setToolTip(QStringLiteral("The adapter of this COM number hands every request back before the reply "
                                          "(two-wire RS-485 without echo suppression): the windows set it aside "
                                          "from the next Open."));
    Text_Target = named(new QLineEdit(this), QStringLiteral("Text_Target"));
    Text_Target->setPlaceholderText(QStringLiteral("tcp://HOST:PORT or mbap://HOST[:PORT]"));
    Command_UseTarget = named(new QPushButton(this), QStringLiteral("Command_UseTarget"));
    Command_Refresh = named(new QPushButton(QStringLiteral("Refresh"), this), QStringLiteral("Command_Refresh"));
    Command_Close = named(new QPushButton(QStringLiteral("Close"), this), QStringLiteral("Command_Close"));
    layOut();

    connect(Combo_Com, &QComboBox::currentIndexChanged, this, &PortsDialog::showCom);
    connect(Command_UseAs, &QPushButton::clicked, this, &PortsDialog::useAsCom);
    connect(Check_Echo, &QCheckBox::clicked, this, &PortsDialog::setEcho);
    connect(Command_UseTarget, &QPushButton::clicked, this, &PortsDialog::useTargetAsCom);
    // Return in the target's box uses the target alone: no button of the dialog is pressed by it.
    connect(Text_Target, &QLineEdit::returnPressed, this, &PortsDialog::useTargetAsCom);
    for (QPushButton *button : findChildren<QPushButton *>())
        button->setAutoDefault(false);
    connect(Command_Refresh, &QPushButton::clicked, this, &PortsDialog::refresh);
    connect(Command_Close, &QPushButton::clicked, this, &QDialog::close);
    refresh();
}

void PortsDialog::layOut()
{
    auto *com = new QHBoxLayout;
    com->addWidget(Combo_Com);
    com->addWidget(Command_UseAs);
    com->addWidget(Check_Echo);
    com->addWidget(Label_Com, 1);
    auto *target = new QHBoxLayout;
    target->addWidget(Text_Target, 1);
    target->addWidget(Command_UseTarget);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Command_Refresh);
    buttons->addWidget(Command_Close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Table_Ports, 3);
    layout->addLayout(com);
    layout->addLayout(target);
    layout->addWidget(Text_Advice, 2);
    layout->addLayout(buttons);
    resize(900, 420);
}

int PortsDialog::comNumber() const
{
    return Combo_Com->currentIndex() + 1;
}

void PortsDialog::refresh()
{
    const QDir root(g_systemRoot);
    m_ports = listSerialPorts(root.filePath(QStringLiteral("dev")), root.filePath(QStringLiteral("sys")));
    Table_Ports->setRowCount(int(m_ports.size()));
    QStringList advice;
    bool locked = false;
    for (int row = 0; row < m_ports.size(); ++row) {
        const SerialPortEntry &port = m_ports[row];
        const bool echo = echoSeenOn(port);
        const QString texts[Columns] = {port.device, port.byId, port.description, port.manufacturer, port.serialNumber,
                                        accessText(port),
                                        port.latencyTimerMs < 0 ? QString() : QStringLiteral("%1 ms").arg(port.latencyTimerMs),
                                        echo ? QStringLiteral("seen") : QString()};
        for (int c = 0; c < Columns; ++c)
            Table_Ports->setItem(row, c, new QTableWidgetItem(texts[c]));
        locked = locked || (port.exists && !port.mayOpen);
        if (const QString slow = latencyAdvice(port.device, port.latencyTimerMs); !slow.isEmpty())
            advice << slow;
    }
    if (m_ports.isEmpty())
        advice << QStringLiteral("The system lists no serial device.");
    if (locked)
        advice << QStringLiteral("This user may not open every port: ") + kDialoutFix + QLatin1Char('.');
    for (const QString &line : ModuleLine::echoSeen())
        advice << QStringLiteral("%1: echo seen, the adapter hands every request back before the reply; "
                                 "the windows set it aside.").arg(line);
    Text_Advice->setPlainText(advice.join(QLatin1Char('\n')));
    if (!m_ports.isEmpty() && Table_Ports->selectedItems().isEmpty())
        Table_Ports->selectRow(0);
    showCom();
}

void PortsDialog::showCom()
{
    const int n = comNumber();
    Command_UseAs->setText(QStringLiteral("Use as COM%1").arg(n));
    Command_UseTarget->setText(QStringLiteral("Use target as COM%1").arg(n));
    Check_Echo->setChecked(QFileInfo::exists(ModuleLine::echoFile(n)));
    Label_Com->setText(QStringLiteral("COM%1: %2").arg(n).arg(resolvePort(n).name()));
}

void PortsDialog::useAsCom()
{
    const int row = Table_Ports->currentRow();
    if (row < 0 || row >= m_ports.size())
        return;
    const SerialPortEntry &port = m_ports[row];
    // The stable name where the system gives one: ttyUSB numbers follow the order of plugging in.
    const QString target = port.byId.isEmpty() ? port.device : port.byId;
    const int n = comNumber();
    const QString link = sysFilePath(QStringLiteral("COM%1").arg(n));
    if (!mayReplace(n, target))
        return;
    QDir().mkpath(QFileInfo(link).path());
    if (!QFile::link(target, link))
        Prompt(this, QStringLiteral("Cannot make %1 a link to %2").arg(link, target));
    showCom();
}

void PortsDialog::useTargetAsCom()
{
    const std::optional<TcpTarget> target = parseTcpTarget(Text_Target->text());
    if (!target) {
        Prompt(this, QStringLiteral("Type a target as tcp://HOST:PORT or mbap://HOST[:PORT]！"));
        return;
    }
    const int n = comNumber();
    const QString path = sysFilePath(QStringLiteral("COM%1").arg(n));
    if (!mayReplace(n, target->text()))
        return;
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    const QByteArray line = target->text().toUtf8() + '\n';
    if (!file.open(QIODevice::WriteOnly) || file.write(line) != line.size() || !file.flush())
        Prompt(this, QStringLiteral("Cannot write %1: %2").arg(path, file.errorString()));
    showCom();
}

bool PortsDialog::mayReplace(int n, const QString &what)
{
    const QString path = sysFilePath(QStringLiteral("COM%1").arg(n));
    const QFileInfo existing(path);
    if (!existing.exists() && !existing.isSymLink())
        return true;
    const QString now = existing.isSymLink() ? existing.symLinkTarget() : resolvePort(n).name();
    if (!Ask(this, QStringLiteral("%1 stands for %2.\nMake it stand for %3?").arg(sysFileLabel(QStringLiteral("COM%1").arg(n)), now, what)))
        return false;
    if (QFile::remove(path))
        return true;
    Prompt(this, QStringLiteral("Cannot replace %1").arg(path));
    return false;
}

void PortsDialog::setEcho(bool on)
{
    const QString file = ModuleLine::echoFile(comNumber());
    QFile f(file);
    const bool done = on ? f.open(QIODevice::WriteOnly) && f.write("echo\n") == 5 : (!f.exists() || f.remove());
    if (!done)
        Prompt(this, QStringLiteral("Cannot write %1: %2").arg(file, f.errorString()));
    showCom();
}

PortsDialog *openPortsDialog(QWidget *window, int comNumber)
{
    auto *dialog = window->findChild<PortsDialog *>();
    if (!dialog) {
        dialog = new PortsDialog(comNumber, window);
        dialog->setWindowFlag(Qt::Window);
        dialog->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        dialog->refresh();
    }
    showRaised(dialog);
    return dialog;
}

QAction *addPortsEntry(QWidget *window, ChoiceBox *portBox)
{
    auto *ports = named(new QAction(QStringLiteral("Ports…"), window), QStringLiteral("PortsAction"));
    QObject::connect(ports, &QAction::triggered, window,
                     [window, portBox] { openPortsDialog(window, portBox->entryIndex() + 1); });
    window->addAction(ports);
    if (QLineEdit *edit = portBox->lineEdit())
        edit->installEventFilter(new PortsMenu(edit, ports));
    return ports;
}
