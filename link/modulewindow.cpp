#include "modulewindow.h"

#include "prompt.h"
#include "modbus.h"
#include "numtext.h"
#include "settingsfiles.h"

#include <QCloseEvent>
#include <QIcon>

QString CommSettings;
QString ParityLetter;

const QString kPortOpenCaption = QStringLiteral("Colse Port");
const QString kPortClosedCaption = QStringLiteral("Open Port");
const QString kStopCaption = QStringLiteral("Stop");
const QString kDataNormal = QStringLiteral("Communication Data Normal！");
const QString kDataError = QStringLiteral("Communication Data Error！");
const QString kOpenPortFirst = QStringLiteral("Please open serial port！");
const QString kAddressNotSelected = QStringLiteral("Module Address Not Selected！");
const QString kAddressRangeMessage = QStringLiteral("Module address must be a number from 0 to 255！");

static std::function<void()> &showMainSlot()
{
    static std::function<void()> showMain;
    return showMain;
}

void ModuleWindow::setShowMain(std::function<void()> showMain)
{
    showMainSlot() = std::move(showMain);
}

template <typename T>
static T *named(T *w, const QString &name)
{
    w->setObjectName(name);
    return w;
}

ModuleWindow::ModuleWindow(const QString &name, const QString &caption, int widthTwips,
                           int heightTwips, QWidget *parent)
    : QWidget(parent)
{
    setObjectName(name);
    setWindowTitle(caption);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(twips(widthTwips), twips(heightTwips));

    Frame1 = named(new QGroupBox(QStringLiteral(" Communication Set"), this), QStringLiteral("Frame1"));
    place(Frame1, 120, 120, 2415, 6855);
    const QStringList captions = {QStringLiteral("Serial No."), QStringLiteral("Baud Rate"),
                                  QStringLiteral("Parity Bit"), QStringLiteral("Data Bit"),
                                  QStringLiteral("Stop Bit")};
    QLabel **labels[] = {&Label1, &Label2, &Label3, &Label4, &Label5};
    ChoiceBox **combos[] = {&Combo1, &Combo2, &Combo3, &Combo4, &Combo5};
    for (int i = 0; i < 5; ++i) {
        *labels[i] = named(new QLabel(captions[i], Frame1), QStringLiteral("Label%1").arg(i + 1));
        place(*labels[i], 120, 480 + 360 * i, 1200, 210);
        *combos[i] = new ChoiceBox(QStringLiteral("Combo%1").arg(i + 1), Frame1);
        place(*combos[i], 1320, 480 + 360 * i, 975, 300);
    }
    Shape1 = named(new Lamp(Frame1), QStringLiteral("Shape1"));
    place(Shape1, 240, 2400, 255, 375);
    Command_Port = named(new QPushButton(kPortClosedCaption, Frame1), QStringLiteral("Command_Port"));
    place(Command_Port, 720, 2400, 1455, 495);
    Label13 = named(new QLabel(QStringLiteral("Serial Send Data"), Frame1), QStringLiteral("Label13"));
    place(Label13, 120, 3240, 1680, 210);
    Label14 = named(new QLabel(QStringLiteral("Serial Recieve Data"), Frame1), QStringLiteral("Label14"));
    place(Label14, 120, 4320, 1995, 210);
    Label19 = named(new QLabel(QStringLiteral("Serial Comm Status "), Frame1), QStringLiteral("Label19"));
    place(Label19, 120, 5760, 1995, 210);
    TextBox **texts[] = {&Text_Send, &Text_Receive, &Text_Message};
    const char *textNames[] = {"Text_Send", "Text_Receive", "Text_Message"};
    const int textTops[] = {3600, 4680, 6120};
    const int textHeights[] = {615, 975, 615};
    for (int i = 0; i < 3; ++i) {
        *texts[i] = new TextBox(QString::fromLatin1(textNames[i]), Frame1);
        place(*texts[i], 120, textTops[i], 2175, textHeights[i]);
    }

    connect(Combo1, &QComboBox::activated, this, [this] { Combo1_Click(); });
    connect(Combo2, &QComboBox::activated, this, [this] { Combo2_Click(); });
    connect(Combo3, &QComboBox::activated, this, [this] { Combo3_Click(); });
    connect(Command_Port, &QPushButton::clicked, this, [this] { Command_Port_Click(); });

    m_line = makeSerialLine();
    MSComm1 = m_line.get();
    connect(MSComm1, &SerialLine::received, this, &ModuleWindow::MSComm1_OnComm);
    connect(MSComm1, &SerialLine::failed, this, &ModuleWindow::onLineFailed);
}

ModuleWindow::~ModuleWindow()
{
    if (m_line)
        m_line->close();
}

void ModuleWindow::place(QWidget *w, int left, int top, int width, int height)
{
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
}

void ModuleWindow::Form_Load()
{
    const QIcon icon(sysFilePath(QStringLiteral("kv.ico")));
    if (!icon.isNull() && !icon.availableSizes().isEmpty())
        setWindowIcon(icon);

    const SerialChoice choice = readSetRc(sysFilePath(QStringLiteral("set.rc")));
    loadTimings();

    for (int i = 1; i <= 9; ++i)
        Combo1->addItem(QStringLiteral("COM%1").arg(i));
    Combo2->addItems({QStringLiteral("4800"), QStringLiteral("9600"), QStringLiteral("19200"),
                      QStringLiteral("38400")});
    Combo3->addItems({QStringLiteral("None"), QStringLiteral("Even")});
    Combo4->addItem(QStringLiteral("8"));
    Combo5->addItem(QStringLiteral("1"));
    Combo4->setEnabled(false);
    Combo5->setEnabled(false);

    Combo2->setCurrentIndex(-1);
    Combo2->setEditText(choice.baud);
    Combo3->setCurrentIndex(-1);
    Combo3->setEditText(choice.parity);
    Combo4->setEditText(QStringLiteral("8"));
    Combo5->setEditText(QStringLiteral("1"));
    const int portIndex = portIndexFromLine(choice.port);
    Combo1->setCurrentIndex(portIndex);
    if (portIndex < 0)
        Combo1->setEditText(QStringLiteral("COM") + choice.port);
    Combo1->setToolTip(MSComm1->deviceName(portIndex + 1));

    setClosedState();
    loadPanels();
}

QComboBox *ModuleWindow::makeAddressBox(int index, QWidget *parent)
{
    auto *box = new ChoiceBox(QStringLiteral("Combo_Addr_%1").arg(index), parent);
    for (int a = 1; a <= 254; ++a)
        box->addItem(QString::number(a));
    box->setCurrentIndex(0);
    if (Combo_Addr.size() <= index)
        Combo_Addr.resize(index + 1);
    Combo_Addr[index] = box;
    return box;
}

void ModuleWindow::setClosedState()
{
    Command_Port->setText(kPortClosedCaption);
    Shape1->setFillColor(QColor(0, 0, 0));
    Shape1->repaint();
}

void ModuleWindow::Combo1_Click()
{
    Combo1->setToolTip(MSComm1->deviceName(portNumber()));
    if (portIsOpen())
        Command_Port_Click();
}

void ModuleWindow::Combo2_Click()
{
    if (portIsOpen())
        Command_Port_Click();
}

void ModuleWindow::Combo3_Click()
{
    if (portIsOpen())
        Command_Port_Click();
}

void ModuleWindow::Command_Port_Click()
{
    if (portIsOpen()) {
        MSComm1->close();
        setClosedState();
        onPortClosed();
        Pause(500);
        return;
    }
    const int n = portNumber();
    if (!ProbePort(n))
        return;
    Command_Port->setText(kPortOpenCaption);
    Shape1->setFillColor(QColor(0, 255, 0));
    const QString parity = Combo3->currentText();
    if (parity == QLatin1String("None"))
        ParityLetter = QStringLiteral("N");
    else if (parity == QLatin1String("Odd"))
        ParityLetter = QStringLiteral("O");
    else if (parity == QLatin1String("Even"))
        ParityLetter = QStringLiteral("E");
    CommSettings = Combo2->currentText() + QLatin1Char(',') + ParityLetter + QLatin1Char(',')
                   + Combo4->currentText() + QLatin1Char(',') + Combo5->currentText();
    ConfigurePort(n);
}

bool ModuleWindow::ProbePort(int n)
{
    const SerialLine::Result r = MSComm1->probe(n);
    const QString device = MSComm1->deviceName(n);
    Combo1->setToolTip(r.detail.isEmpty() ? device : device + QStringLiteral(": ") + r.detail);
    switch (r.fault) {
    case SerialLine::Fault::None:
        return true;
    case SerialLine::Fault::DoesNotExist:
        Prompt(this, QStringLiteral("Serial port does not exist！"));
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

void ModuleWindow::ConfigurePort(int n)
{
    const SerialLine::Result r = MSComm1->open(n, CommSettings);
    if (r.ok())
        return;
    Prompt(this, QStringLiteral("Serial fault, Please check the serial port"));
    setClosedState();
}

void ModuleWindow::MSComm1_OnComm(const QByteArray &bytes)
{
    const qsizetype room = (m_maxReceiveChars - ReceiveHex.size()) / 3;
    if (room <= 0)
        return;
    appendHexText(ReceiveHex, room < bytes.size() ? bytes.left(room) : bytes);
}

void ModuleWindow::setLongestReply(int bytes)
{
    // The margin keeps a too-long reply recognisable as too long.
    m_maxReceiveChars = qsizetype(bytes + 16) * 3;
}

void ModuleWindow::onLineFailed(const QString &why)
{
    Q_UNUSED(why);
    if (!portIsOpen())
        return;
    setClosedState();
    onLineLost();
    Prompt(this, QStringLiteral("Serial fault, Please check the serial port"));
}

void ModuleWindow::clearExchange()
{
    Text_Message->clear();
    SendHex.clear();
    ReceiveHex.clear();
    Text_Send->clear();
    Text_Receive->clear();
}

void ModuleWindow::sendFrame(const QByteArray &frame)
{
    SendHex = HexText(frame);
    Text_Send->setPlainText(SendHex);
    MSComm1->write(frame);
}

std::optional<std::uint8_t> ModuleWindow::requestAddress(int index, const QString &emptyMessage)
{
    const QString text = Combo_Addr.value(index) ? Combo_Addr[index]->currentText() : QString();
    if (text.isEmpty()) {
        Prompt(this, emptyMessage);
        return std::nullopt;
    }
    const auto address = addressFromText(text);
    if (!address)
        Prompt(this, kAddressRangeMessage);
    return address;
}

void ModuleWindow::closeEvent(QCloseEvent *event)
{
    Form_QueryUnload();
    event->accept();
}

void ModuleWindow::Form_QueryUnload()
{
    SerialChoice choice;
    choice.port = QString::number(portNumber());
    choice.baud = Combo2->currentText();
    choice.parity = Combo3->currentText();
    QString error;
    if (!writeSetRc(sysFilePath(QStringLiteral("set.rc")), choice, &error))
        Prompt(this, QStringLiteral("Cannot write %1: %2").arg(sysFileLabel(QStringLiteral("set.rc")), error));
    if (showMainSlot())
        showMainSlot()();
}
