// The traffic monitor: opened from a right-click in a module window, rows arriving while it
// polls, the refusal said, saved as CSV; and the traffic log file of an unattended run with a
// faulty module.
#include "support/guitest.h"

#include "testwindow.h"
#include "trafficlogfile.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QTimer>

class TestMonitor : public QObject
{
    Q_OBJECT
private slots:
    void openedFromTheContextMenu()
    {
        GuiTestEnvironment env;
        SimModule *module = env.bus.addModule(5510, 1, 2);
        const auto w = owned(createTestWindow(QStringLiteral("KV5510ADAM")));
        QVERIFY(openPort(w.get()));
        auto *acquisition = child<QPushButton>(w.get(), QStringLiteral("Command_OK1"));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        QTRY_COMPARE(w->Text_Message->toPlainText(), QStringLiteral("Communication Data Normal！"));
        // Right-click on a label; the menu that pops up offers the monitor.
        QString offered;
        QTimer::singleShot(0, this, [&offered] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            for (QAction *a : menu ? menu->actions() : QList<QAction *>())
                if (a->text() == QStringLiteral("Traffic monitor…")) {
                    offered = a->text();
                    menu->close();
                    a->trigger();
                }
        });
        QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(5, 5), w->Label13->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(w->Label13, &click);
        auto *monitor = w->findChild<TrafficWindow *>();
        QVERIFY(monitor);
        QCOMPARE(offered, QStringLiteral("Traffic monitor…"));
        QCOMPARE(monitor->windowTitle(), QStringLiteral("Traffic - KV5510ADAM"));
        // It shows the traffic since the window opened, and rows go on arriving.
        QVERIFY(monitor->Table->model()->rowCount() >= 2);
        module->faults.badCrc = true;
        QTRY_VERIFY(monitor->Statistics->text().contains(QStringLiteral("bad CRC")));
        QTest::mouseClick(acquisition, Qt::LeftButton);
        monitor->ErrorsOnly->click();
        monitor->refresh();
        const QAbstractItemModel *table = monitor->Table->model();
        QVERIFY(table->rowCount() >= 1);
        for (int r = 0; r < table->rowCount(); ++r)
            QCOMPARE(table->index(r, TrafficModel::Verdict).data().toString(), QStringLiteral("bad CRC"));
        const QString csv = monitor->rowsText(true, false);
        QVERIFY(csv.startsWith(QStringLiteral("\"Time\",\"Since first (s)\",\"Dir\",\"Bytes\"")));
        QVERIFY(csv.contains(QStringLiteral(",\"RX\",")) && csv.contains(QStringLiteral(",\"bad CRC\",")));
        // Closed, it goes; Ctrl+T in the window brings a new one.
        monitor->close();
        QTRY_VERIFY(!w->findChild<TrafficWindow *>());
        QApplication::setActiveWindow(w.get());
        QTest::keyClick(w.get(), Qt::Key_T, Qt::ControlModifier);
        QTRY_VERIFY(w->findChild<TrafficWindow *>() && w->findChild<TrafficWindow *>()->isVisible());
    }

    void logFileOfAnUnattendedRun()
    {
        GuiTestEnvironment env;
        env.bus.addModule(5510, 1, 2)->faults.exception = true;
        const QString path = QDir(env.path()).filePath(QStringLiteral("traffic.log"));
        TrafficLogFile log(path, [&env](const QString &why) { env.messages << why; });
        ModuleWindow::setTrafficSink([&log](const QString &caption, const TrafficRow &row) { log.write(caption, row); });
        const auto restore = qScopeGuard([] { ModuleWindow::setTrafficSink({}); });
        const auto w = owned(createTestWindow(QStringLiteral("KV5510ADAM")));
        QVERIFY(openPort(w.get()));
        QTest::mouseClick(child<QPushButton>(w.get(), QStringLiteral("Command_OK1")), Qt::LeftButton);
        const auto written = [&path] {
            QFile file(path);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        QTRY_VERIFY(written().count("\tRX\t") >= 2);
        const QList<QByteArray> lines = written().split('\n');
        QVERIFY(lines[0].contains("\tKV5510ADAM\tTX\t01 02 00 00 00 08 79 CC\t"));
        const QList<QByteArray> reply = lines[1].split('\t');
        QCOMPARE(reply.size(), 5);
        QVERIFY(QDateTime::fromString(QString::fromLatin1(reply[0]), QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz")).isValid());
        QCOMPARE(reply[2] + ' ' + reply[4], QByteArray("RX exception 1: illegal function"));
        QVERIFY(env.messages.isEmpty());
    }
};

QTEST_MAIN(TestMonitor)
#include "test_monitor.moc"
