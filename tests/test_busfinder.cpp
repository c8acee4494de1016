// The Bus Finder window on simulated modules, one of them late, behind an adapter that echoes: opened from Main with Ctrl+B, a sweep typed in as a
// technician would, its table, copy, CSV and its export, "Set address…" on a row, and the double-click (or
// "Test") that hands over to a model's window with the port, baud rate, parity and address chosen; opened
// again, the window shows what it found and how it was set; "Open as site…" writes and opens the site.
#include "support/guitest.h"

#include "busfinder.h"
#include "sitefile.h"
#include "sitewindow.h"
#include "toolwindows.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QInputDialog>
#include <QProgressBar>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableWidget>

namespace {
constexpr int kWaitMs = 20000;

// Answers the next file dialog with path, accepted.
void answerFile(QTimer &answer, const QString &path)
{
    QObject::disconnect(&answer, &QTimer::timeout, nullptr, nullptr); // a timer answering an earlier dialog
    QObject::connect(&answer, &QTimer::timeout, [&answer, path] {
        if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
            answer.stop();
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, &QDialog::accept);
        }
    });
    answer.start(10);
}

// Main made active, then Ctrl+B: the Bus Finder window it opens.
BusFinderWindow *openFinder(ToolWindows &tool)
{
    tool.main.activateWindow();
    if (!QTest::qWaitForWindowActive(&tool.main))
        return nullptr;
    QTest::keyClick(&tool.main, Qt::Key_B, Qt::ControlModifier);
    return qobject_cast<BusFinderWindow *>(tool.registry.window(QStringLiteral("BusFinder")));
}
} // namespace

class TestBusFinder : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void sweepTableAndHandOver()
    {
        GuiTestEnvironment env;
        SimModule *shared = env.bus.addModule(5510, 3, 2);
        SimModule *other = env.bus.addModule(5530, 3, 2);
        env.bus.addModule(5520, 12, 2)->faults.delayMs = 40;
        env.bus.addModule(1730, 7, 3)->faults.delayMs = 40; // heard when the broadcast is asked again
        env.bus.addModule(7710, 40, 7);
        QFont wide = QApplication::font(); // captions wider than their twips allow
        wide.setLetterSpacing(QFont::PercentageSpacing, 250);
        QApplication::setFont(wide);
        ToolWindows tool;
        tool.main.show();
        BusFinderWindow *w = openFinder(tool);
        QVERIFY(w && w->isVisible() && !tool.main.isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Bus Finder"));
        QTest::mouseClick(w->Command_OpenSite, Qt::LeftButton); // nothing found yet
        QCOMPARE(env.messages, QStringList{"No module found to make a site of！"});
        env.messages.clear();

        // On an adapter that echoes every request (the finder sets the echo aside and finds the same),
        // sweep 9600,None, 19200,None and 19200,Even only, addresses 1 to 45.
        QVERIFY(simLine(w));
        simLine(w)->echo = true;
        for (int i : {0, 3, 4, 5, 7}) { // all ticked at first (the steps the sweep takes, and the ticks kept, say so)
            auto *box = child<QCheckBox>(w, QStringLiteral("Check_Code_%1").arg(i));
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
        }
        enterText(w->Combo_To->lineEdit(), "45", false, Qt::Key_Tab); // each box left with Tab, as a technician would
        enterText(w->Combo_Turnaround->lineEdit(), "5", false, Qt::Key_Tab);
        QTest::mouseClick(w->Command_Start, Qt::LeftButton);
        QCOMPARE(w->Command_Start->text(), QStringLiteral("Stop"));
        QTRY_VERIFY_WITH_TIMEOUT(w->Table_Results->rowCount() > 0 && w->Label_TimeLeft->text().endsWith(QLatin1String(" s left")), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_Start->text(), QStringLiteral("Start"), kWaitMs);
        QVERIFY(env.messages.isEmpty() && !simLine(w)->isOpen()); // the finder's end closes the line
        // 3 + 3 * 45 + 3 steps, all done: asked again, the late broadcast, the shared and the late address.
        QCOMPARE(QStringLiteral("%1 of %2, ").arg(w->Progress->value()).arg(w->Progress->maximum()) + w->Label_TimeLeft->text(),
                 QStringLiteral("141 of 141, 4 found"));

        // By address; a shared address says what to do; no text cut, the notes' column as wide as they are.
        QTableWidget *t = w->Table_Results;
        QCOMPARE(tableTexts(t, 5), (QStringList{"3|||9600|None||shared address? Disconnect all but one, then Set address…",
                                            "7|KV1730ADAM|3|19200|None||", "12|KV5520ADAM|2|9600|None||", "40|KV7710ADAM|7|19200|Even||"}));
        QVERIFY(t->item(1, 5)->data(Qt::DisplayRole).toDouble() > 0);
        QVERIFY(t->item(0, 6)->toolTip().startsWith(QLatin1String("Several modules answer at this address. Disconnect all but one")));
        QCOMPARE(cutTexts(w->Frame_Codes) + cutTexts(w->Frame_Range), QStringList());
        for (QWidget *frame : {w->Frame_Codes, w->Frame_Range}) // the frames grown to hold them, side by side in the window
            QVERIFY(w->rect().contains(frame->geometry()) && frame->rect().contains(frame->childrenRect())
                    && !w->Frame_Codes->geometry().intersects(w->Frame_Range->geometry()));
        for (int c = 0; c < t->columnCount(); ++c)
            QVERIFY(static_cast<QAbstractItemView *>(t)->sizeHintForColumn(c) <= t->columnWidth(c));

        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(0, 0)).center());
        QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
        const QString copied = QApplication::clipboard()->text();
        QVERIFY2(QRegularExpression(QStringLiteral("^3\t\t\t9600\tNone\t[0-9.]+\tshared address\\? Disconnect")).match(copied).hasMatch(),
                 qPrintable(copied));
        QVERIFY(w->csvText().startsWith(QLatin1String("Address,Model,Code,Baud,Parity,Response ms,Note\n3,,,9600,None,")));
        // "Export CSV…" writes that text to the file named in its dialog.
        QTimer answer;
        answerFile(answer, QDir::current().filePath(QStringLiteral("sys/bus.csv")));
        QTest::mouseClick(w->Command_Export, Qt::LeftButton);
        QCOMPARE(QString::fromUtf8(env.readSys(QStringLiteral("bus.csv"))), w->csvText());

        // The shared address has no model: a double-click there opens nothing.
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(0, 0)).center());
        QVERIFY(w->isVisible());

        // "Set address…" on the row at address 3, the new address typed, Enter: each refusal in
        // korvant-cli's words, then, with one module left there, written, read back and shown.
        const auto setAddress = [&](int row, const QString &to, const std::function<void()> &whileWriting = {}) {
            QTimer answer;
            connect(&answer, &QTimer::timeout, [&answer, to] {
                if (auto *dialog = qobject_cast<QInputDialog *>(QApplication::activeModalWidget())) {
                    answer.stop();
                    enterText(dialog->findChild<QLineEdit *>(), to, false, Qt::Key_Return);
                }
            });
            answer.start(10);
            env.messages.clear();
            rightClick(t->viewport(), QStringLiteral("Set address…"), t->visualItemRect(t->item(row, 0)).center());
            if (whileWriting && QTest::qWaitFor([&] { return simLine(w)->isOpen(); }, kWaitMs))
                whileWriting();
            return QTest::qWaitFor([&] { return !answer.isActive() && !simLine(w)->isOpen(); }, kWaitMs);
        };
        QVERIFY(setAddress(0, QStringLiteral("0")));
        QCOMPARE(env.messages, QStringList{"The address must be 1 to 255！"});
        QVERIFY(setAddress(0, QStringLiteral("9"), [&] { simLine(w)->fail(); })); // the line lost: it can be asked again
        // Disconnected (the refusal while replies collide is test_core's oneModuleWrite).
        other->faults.silent = true;
        QVERIFY(setAddress(0, QStringLiteral("12"))); // the late one
        QCOMPARE(env.messages, QStringList{"Address 12 is taken: a module answered there, so nothing was written"});
        shared->faults.exception = true;
        QVERIFY(setAddress(0, QStringLiteral("9")));
        QCOMPARE(env.messages, QStringList{"The module answered with exception 1: illegal function"});
        shared->faults.exception = false;
        QVERIFY(setAddress(0, QStringLiteral("9"), [&] { // Start and a double-click wait while it writes
            QTest::mouseClick(w->Command_Start, Qt::LeftButton);
            QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(3, 0)).center());
            QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(3, 0)).center());
        }));
        QCOMPARE(env.messages, QStringList());
        QCOMPARE(w->Label_TimeLeft->text(), QStringLiteral("address 9 written to the module at address 3"));
        QVERIFY(shared->address() == 9 && w->foundRows().value(1).model == 5510 && !w->traffic().waiting()); // each reply judged in the traffic too
        const QStringList found{"7|KV1730ADAM|3|19200|None||", "9|KV5510ADAM|2|9600|None||", "12|KV5520ADAM|2|9600|None||",
                                "40|KV7710ADAM|7|19200|Even||"};
        QCOMPARE(tableTexts(t, 5), found);

        const QPoint model = t->visualItemRect(t->item(3, 1)).center();
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, model);
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, model);
        ModuleWindow *m = tool.registry.window(QStringLiteral("KV7710ADAM"));
        QVERIFY(m && m->isVisible());
        QTRY_VERIFY(!tool.registry.window(QStringLiteral("BusFinder")) && !tool.main.isVisible());
        QCOMPARE(m->Combo1->currentText() + m->Combo2->currentText() + m->Combo3->currentText() + m->Command_Port->text(),
                 QStringLiteral("COM119200EvenOpen Port"));
        for (QComboBox *box : std::as_const(m->Combo_Addr))
            QVERIFY(!box || box->currentText() == QLatin1String("40"));
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("1\r\n9600\r\nNone\r\n")); // as it was
        m->close();
        QVERIFY(tool.main.isVisible());
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("1\r\n19200\r\nEven\r\n"));

        // Opened again: the rows, the settings ticked and the range as they were; "Test" hands over.
        QVERIFY((w = openFinder(tool)) && w->isVisible());
        t = w->Table_Results;
        QCOMPARE(tableTexts(t, 5), found);
        QCOMPARE(w->Label_TimeLeft->text() + w->Combo_From->currentText() + w->Combo_To->currentText() + w->Combo_Turnaround->currentText(),
                 QStringLiteral("4 found1455"));
        for (int i = 0; i < 8; ++i)
            QCOMPARE(w->Check_Code[i]->isChecked(), i == 1 || i == 2 || i == 6);
        QCOMPARE(rightClick(t->viewport(), QStringLiteral("Test"), t->visualItemRect(t->item(1, 0)).center()), (QStringList{"Test", "Set address…", "Open as site…"}));
        QTRY_VERIFY(tool.registry.window(QStringLiteral("KV5510ADAM"))
                    && tool.registry.window(QStringLiteral("KV5510ADAM"))->Combo_Addr.value(0)->currentText() == QLatin1String("9"));

        // "Open as site…" (right-click): a name typed without its suffix; the site of the modules
        // found, each at the code it was found at, written, among the recent sites and open.
        tool.registry.window(QStringLiteral("KV5510ADAM"))->close();
        QVERIFY((w = openFinder(tool)) && w->isVisible());
        answerFile(answer, env.path() + QStringLiteral("/found"));
        t = w->Table_Results;
        rightClick(t->viewport(), QStringLiteral("Open as site…"), t->visualItemRect(t->item(0, 0)).center());
        const QString path = env.path() + QStringLiteral("/found.kvsite");
        QTRY_VERIFY(tool.registry.window(QStringLiteral("SiteWindow")) && !tool.registry.window(QStringLiteral("BusFinder")));
        auto *site = qobject_cast<SiteWindow *>(tool.registry.window(QStringLiteral("SiteWindow")));
        QVERIFY(site->isVisible() && !tool.main.isVisible() && env.messages.isEmpty());
        QCOMPARE(site->windowTitle() + '|' + recentSites(recentSitesFile()).value(0), "Site - found|" + path);
        QString error;
        const std::optional<Site> written = readSite(path, &error);
        QVERIFY2(written, qPrintable(error));
        QStringList modules{written->name + ' ' + written->port + ' ' + QString::number(written->code)};
        for (const SiteModule &m : written->modules)
            modules << QStringLiteral("%1 %2 %3 '%4' %5").arg(m.address).arg(m.model).arg(m.code).arg(m.tag).arg(m.channelTags.size());
        QCOMPARE(modules, (QStringList{"found COM1 2", "7 KV1730ADAM 3 '' 0", "9 KV5510ADAM 2 '' 0", "12 KV5520ADAM 2 '' 0",
                                       "40 KV7710ADAM 7 '' 0"}));
    }
};

QTEST_MAIN(TestBusFinder)
#include "test_busfinder.moc"
