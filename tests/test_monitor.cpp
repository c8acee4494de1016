// The traffic monitor: opened from a right-click in a module window, rows arriving while it
// polls, the refusal said, saved as CSV; its rows following the recorder batch by batch and
// painted as a full repaint would; and the traffic log file of an unattended run with a faulty
// module.
#include "support/guitest.h"

#include "testwindow.h"
#include "trafficlogfile.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMenu>
#include <QScreen>
#include <QScrollBar>
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

    // A model that took the recorder's changes batch by batch (rows added, the oldest dropped a
    // hundredth of the bound at a time, the filter switched) shows what a new one shows.
    void modelFollowsTheRecorder()
    {
        TrafficRecorder recorder(200);
        TrafficModel followed(&recorder);
        const QByteArray read = readRequest(1, 2, 0, 8);
        const QByteArray good = withCrc(QByteArray::fromHex("010201"));
        qint64 ns = 0;
        int n = 0;
        const auto rows = [](const TrafficModel &model) {
            QStringList seen;
            for (int r = 0; r < model.rowCount(); ++r)
                seen << QStringLiteral("%1 %2").arg(model.index(r, 0).data(TrafficModel::RowNumberRole).toULongLong())
                            .arg(model.index(r, TrafficModel::Verdict).data().toString());
            return seen;
        };
        // Exchanges between batches; the filter switched after the third; the bound passed on the way.
        for (const int count : {3, 40, 30, 1, 0, 60, 2, 45}) {
            if (count % 2)
                recorder.received(QByteArray::fromHex("FF"), 0, ns); // a batch that starts with noise
            for (int i = 0; i < count; ++i, ++n, ns += 20'000'000) {
                recorder.sent(read, 0, ns);
                if (n % 7 == 3)
                    recorder.received(QByteArray::fromHex("A5"), 0, ns + 1'000'000);
                recorder.judged(judgeReply(n % 5 == 0 ? QByteArray() : good, read, 6), 0, ns + 10'000'000);
            }
            followed.sync();
            if (count == 30)
                followed.setErrorsOnly(true);
            TrafficModel fresh(&recorder);
            fresh.setErrorsOnly(followed.rowCount() < int(recorder.rows().size()));
            fresh.sync();
            QCOMPARE(rows(followed), rows(fresh));
        }
        QVERIFY(recorder.firstRow() > 0 && recorder.rows().size() <= 202);
    }

    // The table of a monitor that follows the end takes new rows by a blit and paints only them;
    // what it shows then must be what painting it afresh shows: before it is full, and while it
    // scrolls with the oldest rows going.
    void batchesPaintWhatAFullRepaintWould()
    {
        GuiTestEnvironment env;
        env.bus.addModule(5510, 1, 2);
        const auto w = owned(createTestWindow(QStringLiteral("KV5510ADAM")));
        QVERIFY(openPort(w.get()));
        w->traffic().setCapacity(40); // so that the oldest rows go while it polls
        TrafficWindow *monitor = w->openTrafficMonitor();
        QVERIFY(QTest::qWaitForWindowExposed(monitor));
        auto *acquisition = child<QPushButton>(w.get(), QStringLiteral("Command_OK1"));
        QWidget *viewport = monitor->Table->viewport();
        const auto pollUntil = [&](const std::function<bool()> &done) {
            QTest::mouseClick(acquisition, Qt::LeftButton);
            QTRY_VERIFY_WITH_TIMEOUT(done(), 10000);
            QTest::mouseClick(acquisition, Qt::LeftButton); // stop
            QTest::qWait(0);
            monitor->refresh();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
            // Offscreen, a window's grab is what its backing store holds: what was painted, blits included.
            const QRect area(viewport->mapTo(monitor, QPoint()), viewport->size());
            const QImage shown = monitor->screen()->grabWindow(monitor->winId(), area.x(), area.y(), area.width(), area.height())
                                     .toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(shown, viewport->grab().toImage().convertToFormat(QImage::Format_RGB32));
        };
        pollUntil([&] { return monitor->Table->model()->rowCount() >= 4; });
        pollUntil([&] { return monitor->Table->verticalScrollBar()->maximum() > 30; });
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
