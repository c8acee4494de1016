// The serial group every module window shares, on a minimal window of the tests' own.
#include "support/guitest.h"

#include "settingsfiles.h"

#include <QSignalSpy>

namespace {
class MiniWindow : public ModuleWindow
{
public:
    MiniWindow() : ModuleWindow(QStringLiteral("Mini"), QStringLiteral("Mini"), 6030, 7080) {}
    void useReplyBound(int bytes) { setLongestReply(bytes); }
};

std::unique_ptr<MiniWindow> loadWindow()
{
    auto w = std::make_unique<MiniWindow>();
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->Form_Load();
    w->show();
    return w;
}
} // namespace

class TestSerialGroup : public QObject
{
    Q_OBJECT
private slots:
    void loadFillsBoxesFromSetRc();
    void loadWithoutPortOrFile();
    void openAndClose();
    void parityLetters();
    void rejectedSettingsText();
    void failedProbes();
    void boxClickWhileOpenCloses();
    void receiveConcatenates();
    void receiveIsBounded();
    void lineFailsWhileOpen();
    void closeSavesAndShowsMain();
    void closeWithUnwritableSetRc();
};

void TestSerialGroup::loadFillsBoxesFromSetRc()
{
    GuiTestEnvironment env(shortTimingFile(), "3\r\n9600\r\nNone\r\n");
    auto w = loadWindow();
    QCOMPARE(w->Frame1->title(), QStringLiteral(" Communication Set"));
    QCOMPARE(w->Combo1->count(), 9);
    QCOMPARE(w->Combo1->itemText(8), QStringLiteral("COM9"));
    QCOMPARE(w->Combo1->currentIndex(), 2);
    QCOMPARE(w->Combo1->currentText(), QStringLiteral("COM3"));
    QCOMPARE(w->Combo2->currentText(), QStringLiteral("9600"));
    QCOMPARE(w->Combo2->count(), 4);
    QCOMPARE(w->Combo3->currentText(), QStringLiteral("None"));
    QCOMPARE(w->Combo4->currentText(), QStringLiteral("8"));
    QCOMPARE(w->Combo5->currentText(), QStringLiteral("1"));
    QVERIFY(!w->Combo4->isEnabled() && !w->Combo5->isEnabled());
    QCOMPARE(w->Command_Port->text(), QStringLiteral("Open Port"));
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label19"))->text(), QStringLiteral("Serial Comm Status "));
    QCOMPARE(child<QLabel>(w.get(), QStringLiteral("Label14"))->text(), QStringLiteral("Serial Recieve Data"));
    QCOMPARE(w->Command_Port->geometry(), QRect(twips(720), twips(2400), twips(1455), twips(495)));
    QVERIFY(env.messages.isEmpty());
}

void TestSerialGroup::loadWithoutPortOrFile()
{
    {
        GuiTestEnvironment env(shortTimingFile(), "0\r\n38400x\r\nOdd\r\n");
        auto w = loadWindow();
        QCOMPARE(w->Combo1->currentIndex(), -1);
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("COM0"));
        QCOMPARE(w->Combo2->currentText(), QStringLiteral("38400x"));
        QCOMPARE(w->Combo3->currentText(), QStringLiteral("Odd"));
        // No port: the probe fails as a port that does not exist.
        QVERIFY(!openPort(w.get()));
        QCOMPARE(env.messages, QStringList{QStringLiteral("Serial port does not exist！")});
    }
    {
        GuiTestEnvironment env;
        QFile::remove(QStringLiteral("sys/set.rc"));
        auto w = loadWindow();
        QCOMPARE(w->Combo1->currentText(), QStringLiteral("COM1"));
        QCOMPARE(w->Combo2->currentText(), QStringLiteral("9600"));
        QCOMPARE(w->Combo3->currentText(), QStringLiteral("None"));
        w->close();
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("1\r\n9600\r\nNone\r\n"));
        QVERIFY(env.messages.isEmpty());
    }
}

void TestSerialGroup::openAndClose()
{
    GuiTestEnvironment env(shortTimingFile(), "2\r\n19200\r\nEven\r\n");
    auto w = loadWindow();
    QVERIFY(openPort(w.get()));
    QCOMPARE(w->Command_Port->text(), QStringLiteral("Colse Port"));
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 255, 0));
    QCOMPARE(SerialValues::instance().CommSettings, QStringLiteral("19200,E,8,1"));
    QCOMPARE(simLine(w.get())->lastSettings(), QStringLiteral("19200,E,8,1"));
    QVERIFY(w->MSComm1->isOpen());
    QTest::mouseClick(w->Command_Port, Qt::LeftButton);
    QCOMPARE(w->Command_Port->text(), QStringLiteral("Open Port"));
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
    QVERIFY(!w->MSComm1->isOpen());
    QCOMPARE(env.pauses, QList<int>{500});
    QVERIFY(env.messages.isEmpty());
}

void TestSerialGroup::parityLetters()
{
    GuiTestEnvironment env;
    auto w = loadWindow();
    w->Combo3->setEditText(QStringLiteral("Odd"));
    QVERIFY(openPort(w.get()));
    QCOMPARE(SerialValues::instance().ParityLetter, QStringLiteral("O"));
    QCOMPARE(simLine(w.get())->lastSettings(), QStringLiteral("9600,O,8,1"));
    QTest::mouseClick(w->Command_Port, Qt::LeftButton);
    // An unknown parity word keeps the letter of the previous open.
    w->Combo3->setEditText(QStringLiteral("odd"));
    QVERIFY(openPort(w.get()));
    QCOMPARE(SerialValues::instance().CommSettings, QStringLiteral("9600,O,8,1"));
}

void TestSerialGroup::rejectedSettingsText()
{
    GuiTestEnvironment env;
    auto w = loadWindow();
    w->Combo2->setEditText(QStringLiteral("1234x"));
    QVERIFY(!openPort(w.get()));
    QCOMPARE(env.messages, QStringList{QStringLiteral("Serial fault, Please check the serial port")});
    QCOMPARE(env.titles, QStringList{QStringLiteral("Prompt")});
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
    QVERIFY(!w->MSComm1->isOpen());
    // Typed back to a rate the line takes, the same window opens.
    w->Combo2->setEditText(QStringLiteral("4800"));
    QVERIFY(openPort(w.get()));
}

void TestSerialGroup::failedProbes()
{
    GuiTestEnvironment env;
    auto w = loadWindow();
    SimLine::setPortMissing(1, true);
    QVERIFY(!openPort(w.get()));
    SimLine::setPortMissing(1, false);
    SimLine::setPortInUse(1, true);
    QVERIFY(!openPort(w.get()));
    SimLine::setPortInUse(1, false);
    QCOMPARE(env.messages, (QStringList{QStringLiteral("Serial port does not exist！"),
                                        QStringLiteral("Serial port is already open！")}));
    QCOMPARE(w->Command_Port->text(), QStringLiteral("Open Port"));
    QCOMPARE(simLine(w.get())->openCount(), 0);
}

void TestSerialGroup::boxClickWhileOpenCloses()
{
    GuiTestEnvironment env;
    auto w = loadWindow();
    for (QComboBox *box : {w->Combo1, w->Combo2, w->Combo3}) {
        QVERIFY(openPort(w.get()));
        emit box->activated(1);
        QCOMPARE(w->Command_Port->text(), QStringLiteral("Open Port"));
        QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
        QVERIFY(!w->MSComm1->isOpen());
    }
    QCOMPARE(simLine(w.get())->openCount(), 3);
    // While closed a choice only changes the box.
    emit w->Combo2->activated(2);
    QVERIFY(!w->MSComm1->isOpen());
    QCOMPARE(env.pauses.size(), 3);
}

void TestSerialGroup::receiveConcatenates()
{
    GuiTestEnvironment env;
    auto w = loadWindow();
    QVERIFY(openPort(w.get()));
    simLine(w.get())->injectBytes(QByteArray::fromHex("0102"));
    simLine(w.get())->injectBytes(QByteArray::fromHex("000A44"));
    QTRY_COMPARE(w->ReceiveHex, QStringLiteral("01 02 00 0A 44 "));
}

void TestSerialGroup::receiveIsBounded()
{
    GuiTestEnvironment env;
    auto w = loadWindow();
    w->useReplyBound(8);
    QVERIFY(openPort(w.get()));
    for (int i = 0; i < 64; ++i)
        simLine(w.get())->injectBytes(QByteArray(16 * 1024, '\xA5'));
    QTRY_COMPARE(w->ReceiveHex.size(), (8 + 16) * 3);
    QVERIFY(w->ReceiveHex.startsWith(QStringLiteral("A5 A5 ")));
}

void TestSerialGroup::lineFailsWhileOpen()
{
    GuiTestEnvironment env;
    auto w = loadWindow();
    QVERIFY(openPort(w.get()));
    simLine(w.get())->fail();
    QTRY_COMPARE(w->Command_Port->text(), QStringLiteral("Open Port"));
    QCOMPARE(w->Shape1->fillColor(), QColor(0, 0, 0));
    QCOMPARE(env.messages, QStringList{QStringLiteral("Serial fault, Please check the serial port")});
    // The device is back: the next Open works.
    QVERIFY(openPort(w.get()));
    QCOMPARE(env.messages.size(), 1);
}

void TestSerialGroup::closeSavesAndShowsMain()
{
    GuiTestEnvironment env;
    int shown = 0;
    ModuleWindow::setShowMain([&shown] { ++shown; });
    {
        auto w = loadWindow();
        w->Combo1->setCurrentIndex(4);
        w->Combo2->setEditText(QStringLiteral("19200"));
        w->Combo3->setEditText(QStringLiteral("Even"));
        QVERIFY(openPort(w.get()));
        w->close();
        QCOMPARE(shown, 1);
    }
    QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("5\r\n19200\r\nEven\r\n"));
    auto again = loadWindow();
    QCOMPARE(again->Combo1->currentText(), QStringLiteral("COM5"));
    QCOMPARE(again->Combo2->currentText(), QStringLiteral("19200"));
    QCOMPARE(again->Combo3->currentText(), QStringLiteral("Even"));
    QCOMPARE(again->Command_Port->text(), QStringLiteral("Open Port"));
    again->Combo1->setCurrentIndex(-1);
    again->close();
    QCOMPARE(env.readSys(QStringLiteral("set.rc")).left(3), QByteArray("0\r\n"));
    ModuleWindow::setShowMain({});
}

void TestSerialGroup::closeWithUnwritableSetRc()
{
    GuiTestEnvironment env;
    int shown = 0;
    ModuleWindow::setShowMain([&shown] { ++shown; });
    QVERIFY(QFile::remove(QStringLiteral("sys/set.rc")));
    QVERIFY(QDir(QStringLiteral("sys")).mkdir(QStringLiteral("set.rc")));
    auto w = loadWindow();
    w->close();
    QVERIFY(!w->isVisible());
    QCOMPARE(shown, 1);
    QCOMPARE(env.messages.size(), 1);
    QVERIFY(env.messages[0].startsWith(QStringLiteral("Cannot write ") + sysFileLabel(QStringLiteral("set.rc"))));
    ModuleWindow::setShowMain({});
}

QTEST_MAIN(TestSerialGroup)
#include "test_serialgroup.moc"
