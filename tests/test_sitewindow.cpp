// The site window driven as a technician would, over simulated modules: opened from Main, polled,
// one module silent, one of another model, one at another setting moved to the line's; an output
// switched and the analog output set on their tiles; tags typed and saved; the value log; the
// hand-over to a module's own window and the return; a site whose port is a tcp:// target or a
// device path, over korvant-sim.
#include "support/guitest.h"
#include "support/simprocess.h"

#include "sitefile.h"
#include "sitetile.h"
#include "sitewindow.h"
#include "toolwindows.h"
#include "trafficwindow.h"
#include "trendwindow.h"

#include <QAction>
#include <QStandardPaths>

namespace {
constexpr int kWaitMs = 20000;

const QByteArray kSite = R"({"format": 1, "name": "panel", "port": "COM1", "code": 2, "modules": [
  {"address": 1, "model": "KV5510ADAM", "code": 2, "tag": "Pump house A2", "channels": {"DI_03": "pump 2 running"}, "wiring": "X1"},
  {"address": 2, "model": "KV5510ADAM", "code": 2, "tag": "spare"},
  {"address": 3, "model": "KV1710ADAM", "code": 2},
  {"address": 4, "model": "KV1720ADAM", "code": 2},
  {"address": 5, "model": "KV5510ADAM", "code": 3}]}
)";

template <typename T = QLabel>
T *onTile(SiteWindow *w, int tile, const QString &name)
{
    return child<T>(child(w, QStringLiteral("Tile_%1").arg(tile)), name);
}
} // namespace

class TestSiteWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void siteOfFiveModules()
    {
        GuiTestEnvironment env(shortTimingFile(), "1\r\n19200\r\nEven\r\n");
        SimModule *pump = env.bus.addModule(5510, 1, 2);
        env.bus.addModule(5510, 2, 2)->faults.silent = true;
        env.bus.addModule(1730, 3, 2);
        env.bus.addModule(1720, 4, 2);
        SimModule *moved = env.bus.addModule(5510, 5, 3);
        pump->setDiscreteInput(2, true);
        const QString path = env.path() + QStringLiteral("/panel.kvsite");
        env.writeSys(QStringLiteral("../panel.kvsite"), kSite);
        SiteWindow::setAskPath([&env](QWidget *, const QString &, const QString &) { return env.path() + QStringLiteral("/values"); });
        ToolWindows tool;
        tool.main.show();
        tool.main.openSite(path);
        auto *w = qobject_cast<SiteWindow *>(tool.registry.window(QStringLiteral("SiteWindow")));
        QVERIFY(w && w->isVisible() && !tool.main.isVisible());
        QCOMPARE(w->windowTitle() + '|' + recentSites(recentSitesFile()).value(0), "Site - panel|" + path);

        QTest::mouseClick(w->Command_Log, Qt::LeftButton);
        simLine(w)->echo = true; // an adapter that hands every request back
        QTest::mouseClick(w->Command_Start, Qt::LeftButton);
        QVERIFY(w->portIsOpen() && w->polling());
        QTRY_COMPARE_WITH_TIMEOUT(onTile(w, 0, QStringLiteral("Value_DI_03"))->text(), QStringLiteral("ON"), kWaitMs);
        QCOMPARE(onTile(w, 0, "Value_DI_01")->text() + ' ' + onTile<Lamp>(w, 0, "Lamp_DI_03")->fillColor().name() + ' '
                     + onTile<Lamp>(w, 0, "Lamp_DI_01")->fillColor().name(), QStringLiteral("OFF #00ff00 #000000"));
        QTRY_VERIFY_WITH_TIMEOUT(onTile(w, 1, QStringLiteral("Health"))->text().startsWith(QLatin1String("no reply  ok 0  late 0  no reply ")), kWaitMs);
        QCOMPARE(onTile(w, 2, QStringLiteral("Notes"))->text(), QStringLiteral("KV1730ADAM answers at address 3, the site says KV1710ADAM"));
        QVERIFY(!onTile(w, 2, QStringLiteral("Notes"))->isHidden() && onTile(w, 0, QStringLiteral("Notes"))->isHidden());
        QCOMPARE(onTile(w, 2, QStringLiteral("Value_DS1"))->text(), QString());
        // An answering module's health ends with its mean response time (which module is asked in
        // which round is test_site's).
        QTRY_VERIFY_WITH_TIMEOUT(onTile(w, 0, QStringLiteral("Health"))->text().endsWith(QLatin1String(" ms")), kWaitMs);

        // An output switched, the module at code 3 moved to the line's 2.
        QTest::mouseClick(onTile<ClickLabel>(w, 0, QStringLiteral("Switch_RY_02")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(pump->coil(1), kWaitMs);
        QTRY_COMPARE(onTile(w, 0, QStringLiteral("Switch_RY_02"))->text(), QStringLiteral("ON"));
        QVERIFY(!onTile<QPushButton>(w, 4, QStringLiteral("Move"))->isHidden());
        QTest::mouseClick(w->Command_Start, Qt::LeftButton); // the move goes with the poll stopped too
        QTest::mouseClick(onTile<QPushButton>(w, 4, QStringLiteral("Move")), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(onTile<QPushButton>(w, 4, QStringLiteral("Move"))->isHidden(), kWaitMs);
        QVERIFY(!w->polling());
        QTest::mouseClick(w->Command_Start, Qt::LeftButton);
        QCOMPARE(moved->code(), 2);
        QVERIFY(!ModuleLine::echoSeen().isEmpty()); // learned from the replies, as the ports dialog shows
        const auto &traffic = w->traffic().rows(); // the frames tagged with the line's setting of the moment
        QVERIFY(std::any_of(traffic.begin(), traffic.end(), [](const TrafficRow &r) { return r.tag == QLatin1String("19200,None,8,1"); }));
        QTRY_COMPARE_WITH_TIMEOUT(onTile(w, 4, QStringLiteral("Value_DI_01"))->text(), QStringLiteral("OFF"), kWaitMs);

        // Tags typed and saved with Ctrl+S: the file has them, and the key it did not know.
        enterText(onTile<QLineEdit>(w, 0, "Tag"), "Pump house B1", false, Qt::Key_Tab);
        enterText(onTile<QLineEdit>(w, 0, "ChannelTag_DI_01"), "pump 1 running", false, Qt::Key_Tab);
        enterText(onTile<QLineEdit>(w, 0, "ChannelTag_DI_03"), QString(), false, Qt::Key_Tab);
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
        QString error;
        const std::optional<Site> saved = readSite(path, &error);
        QVERIFY2(saved, qPrintable(error));
        QCOMPARE(saved->modules[0].channelTags, (QMap<QString, QString>{{"DI_01", "pump 1 running"}}));
        QCOMPARE(saved->modules[0].tag + ' ' + saved->modules[0].unknown.value("wiring").toString() + ' '
                     + QString::number(saved->modules[4].code), QStringLiteral("Pump house B1 X1 2"));

        // The trend's channels tagged; the traffic monitor through the program's hook; the value log.
        QTest::keyClick(w, Qt::Key_G, Qt::ControlModifier);
        QVERIFY(w->findChild<TrendWindow *>() && w->values().trend());
        const auto &channels = w->values().trend()->channels();
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(channels.begin(), channels.end(), [](const Trend::Channel &c) { return c.caption == QLatin1String("1 DI_01 pump 1 running"); }), kWaitMs);
        for (QAction *a : w->actions())
            if (a->shortcut() == QKeySequence(Qt::CTRL | Qt::Key_T))
                a->trigger();
        QTRY_VERIFY(w->findChild<TrafficWindow *>());
        QTest::mouseClick(w->Command_Log, Qt::LeftButton);
        const QString logged = QString::fromUtf8(env.readSys(QStringLiteral("../values.csv")));
        QVERIFY(logged.startsWith(QLatin1String("time,window,address,channel,value,unit,raw,text,module_tag,channel_tag\n")));
        QVERIFY(logged.contains(QLatin1String(",KV5510ADAM,1,DI_03,1,,1,ON,Pump house A2,pump 2 running\n")));
        QVERIFY(logged.contains(QLatin1String(",KV5510ADAM,1,DI_01,0,,0,OFF,Pump house B1,pump 1 running\n"))); // as edited
        QVERIFY(logged.contains(QLatin1String(",KV1720ADAM,4,AO,0,mA,0,0.00mA,,\n")));

        // A double-click on a tile: that module's own window, the site's port closed; back on closing.
        QTest::mouseDClick(child(w, QStringLiteral("Tile_4")), Qt::LeftButton, {}, QPoint(3, 3));
        ModuleWindow *m = tool.registry.window(QStringLiteral("KV5510ADAM"));
        QVERIFY(m && m->isVisible() && !w->isVisible() && !w->portIsOpen() && !tool.main.isVisible());
        QCOMPARE(m->Combo1->currentText() + m->Combo2->currentText() + m->Combo3->currentText(), QStringLiteral("COM19600None"));
        QCOMPARE(m->Combo_Addr.value(0)->currentText(), QStringLiteral("5"));
        m->close();
        QVERIFY(w->isVisible() && w->portIsOpen() && w->polling() && !tool.main.isVisible());
        w->close();
        QVERIFY(tool.main.isVisible());
        SiteWindow::setAskPath({});
    }

    // The window's time-out: both frames, the request's echo, 50 ms. An exchange ends at the line's
    // quiet: over a device server (its latency unknown: 20 ms) a byte 5 ms after a complete reply
    // still makes it too long (at 38400 Bd, 3.5 characters alone would be 2 ms).
    void byteWithinTheQuietMakesTheReplyLong()
    {
        const QByteArray read = readRequest(1, 0x02, 0, 8); // 8 bytes, its reply 6
        QCOMPARE((QList<int>{siteTimeoutMs(read, 2), siteTimeoutMs(read, 8)}), (QList<int>{73, 57}));
        GuiTestEnvironment env;
        env.writeSys(QStringLiteral("COM1"), "tcp://127.0.0.1:9\n");
        SimModule *m = env.bus.addModule(5510, 1, 8);
        m->faults = {.extraByte = true, .pieces = 64, .pieceGapMs = 5}; // a byte at a time
        env.writeSys(QStringLiteral("../one.kvsite"), R"({"format": 1, "name": "one", "port": "COM1", "code": 8, "modules": [{"address": 1, "model": "KV5510ADAM", "code": 8}]})");
        auto w = owned<SiteWindow>(createSiteWindow(env.path() + QStringLiteral("/one.kvsite")));
        QTest::mouseClick(w->Command_Start, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w->poll().state(0).errors >= 4, kWaitMs);
        QVERIFY(w->poll().state(0).check == SiteModuleState::Check::Unread); // no reply taken
    }

    // The site's own port, whatever it names, through the program's line to korvant-sim. Behind
    // a device server the KV1730ADAM whose register says code 4 is off the line's setting; behind
    // a gateway it is on the gateway's.
    void sitePortNamed_data()
    {
        QTest::addColumn<QString>("as");
        QTest::newRow("tcp://") << "--tcp";
        QTest::newRow("mbap://") << "--mbap";
        QTest::newRow("device path") << QString();
    }
    void sitePortNamed()
    {
        QFETCH(QString, as);
        GuiTestEnvironment env;
        setSerialLineFactory({}); // the program's own line
        SimProcess sim;
        const QStringList modules{"--module", "5510:1:2", "--inputs", "0x05", "--module", as.isEmpty() ? "1730:2:2" : "1730:2:4", "--module", "1720:3:2"};
        const QString port = !as.isEmpty() ? sim.startTcp(modules, as) : (sim.start(modules) ? QFileInfo(sim.link()).symLinkTarget() : QString());
        QVERIFY(port.startsWith(as.isEmpty() ? "/dev/" : as.mid(2) + "://"));
        env.writeSys(QStringLiteral("../line.kvsite"), QStringLiteral(R"({"format": 1, "name": "line", "port": "%1", "code": 2, "modules": [
            {"address": 1, "model": "KV5510ADAM", "code": 2}, {"address": 2, "model": "KV1730ADAM", "code": 2},
            {"address": 3, "model": "KV1720ADAM", "code": 2}]})").arg(port).toUtf8());
        auto w = owned<SiteWindow>(createSiteWindow(env.path() + QStringLiteral("/line.kvsite")));
        QCOMPARE(w->Label_Status->text(), QStringLiteral("Port ") + port);
        QVERIFY(!w->Combo1->isEnabled());
        QTest::mouseClick(w->Command_Start, Qt::LeftButton);
        QVERIFY(w->portIsOpen() && w->polling());
        QTRY_COMPARE_WITH_TIMEOUT(onTile(w.get(), 0, QStringLiteral("Value_DI_03"))->text(), QStringLiteral("ON"), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(w->poll().state(1).ok >= 2, kWaitMs);
        QCOMPARE(w->poll().offLineSetting(1), as == "--tcp");
        // A single-register write, whose reply is its request: no echo taken where none was learned.
        enterText(onTile<QLineEdit>(w.get(), 2, "AO_Value"), "12.5", false, Qt::Key_Tab);
        QTest::mouseClick(onTile<QPushButton>(w.get(), 2, QStringLiteral("AO_Set")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(onTile(w.get(), 2, QStringLiteral("Value_AO"))->text(), QStringLiteral("12.50mA"), kWaitMs);
        QCOMPARE(w->poll().state(0).noReply + w->poll().state(1).noReply + w->poll().state(2).noReply, 0);
        QTest::mouseClick(w->Command_Port, Qt::LeftButton); // closed, and opened again by "Open Port"
        QVERIFY(!w->portIsOpen() && !w->polling());
        QTest::mouseClick(w->Command_Port, Qt::LeftButton);
        QVERIFY(w->portIsOpen() && env.messages.isEmpty());
        // A module's window opens its port by number: none until Ports… gives the target one.
        ToolWindows tool;
        QTest::mouseDClick(child(w.get(), QStringLiteral("Tile_0")), Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(env.messages.value(0), "No COM port stands for " + port + ": give it one in Ports… to open a module's window");
        QVERIFY(w->isVisible() && !tool.registry.window(QStringLiteral("KV5510ADAM")));
        if (as.isEmpty())
            QVERIFY(QFile::link(port, env.path() + QStringLiteral("/sys/COM3")));
        else
            env.writeSys(QStringLiteral("COM3"), (port + '\n').toUtf8());
        QTest::mouseDClick(child(w.get(), QStringLiteral("Tile_0")), Qt::LeftButton, {}, QPoint(3, 3));
        ModuleWindow *m = tool.registry.window(QStringLiteral("KV5510ADAM"));
        QVERIFY(m && m->isVisible() && !w->isVisible() && !w->portIsOpen());
        QCOMPARE(m->Combo1->currentText(), QStringLiteral("COM3"));
        m->close();
        QVERIFY(w->isVisible() && w->portIsOpen());
    }
};

QTEST_MAIN(TestSiteWindow)
#include "test_sitewindow.moc"
