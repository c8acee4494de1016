// The checkout window driven from the keyboard over the site window's poll of simulated modules:
// an input worked in the field, an output switched and confirmed, analog inputs held at and off
// their point, the analog output measured, a channel not tested; the journal read back, resumed
// after a damaged last line, and a folder removed under it.
#include "support/guitest.h"

#include "checkoutwindow.h"
#include "sitewindow.h"

namespace {
constexpr int kWaitMs = 20000;

QTreeWidgetItem *row(CheckoutWindow *cw, const QString &channel)
{
    const QList<QTreeWidgetItem *> found = cw->List->findItems(channel, Qt::MatchExactly | Qt::MatchRecursive);
    if (found.size() != 1)
        QTest::qFail(qPrintable(QStringLiteral("%1 rows named %2").arg(found.size()).arg(channel)), __FILE__, __LINE__);
    return found.value(0);
}

void keys(QWidget *w, Qt::Key key, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QTest::keyClick(w, key);
}
} // namespace

class TestCheckoutWindow : public QObject
{
    Q_OBJECT
private slots:
    void checkoutOfASite()
    {
        GuiTestEnvironment env(shortTimingFile());
        SimModule *pump = env.bus.addModule(5510, 1, 2);
        SimModule *ai = env.bus.addModule(1730, 2, 2);
        SimModule *ao = env.bus.addModule(1720, 3, 2);
        ai->setHolding(0, 819); // 4.00 mA
        ai->setHolding(1, 900); // 4.40 mA
        ai->setHolding(2, 819);
        ao->setHolding(0, 1000);
        QVERIFY(QDir(env.path()).mkdir(QStringLiteral("site")));
        env.writeSys(QStringLiteral("../site/panel.kvsite"), R"({"format": 1, "name": "panel", "port": "COM1", "code": 2, "modules": [
            {"address": 1, "model": "KV5510ADAM", "code": 2, "tag": "Pump house", "channels": {"RY_02": "pump 2"}},
            {"address": 2, "model": "KV1730ADAM", "code": 2}, {"address": 3, "model": "KV1720ADAM", "code": 2}]})");
        const QString journal = env.path() + QStringLiteral("/site/panel.checkout.jsonl");
        auto w = owned<SiteWindow>(createSiteWindow(env.path() + QStringLiteral("/site/panel.kvsite")));
        CheckoutWindow::setAskName([](QWidget *) { return QStringLiteral("  "); }); // no name, no checkout
        QTest::mouseClick(w->Command_Checkout, Qt::LeftButton);
        QVERIFY(!w->findChild<CheckoutWindow *>() && !QFile::exists(journal));
        int asked = 0;
        CheckoutWindow::setAskName([&asked](QWidget *) { return ++asked, QStringLiteral("Ann Tech"); });
        QTest::mouseClick(w->Command_Checkout, Qt::LeftButton);
        auto *cw = w->findChild<CheckoutWindow *>();
        QVERIFY(cw && cw->isVisible() && w->polling());
        QCOMPARE(cw->windowTitle() + '|' + cw->List->topLevelItem(0)->text(0) + '|' + row(cw, "RY_02")->text(1),
                 QStringLiteral("Checkout - panel|KV5510ADAM  address 1  Pump house|pump 2"));

        // The technician works the input: seen off, then on, it passes; the next channel follows.
        QTRY_VERIFY_WITH_TIMEOUT(row(cw, QStringLiteral("DI_01"))->text(3).startsWith(QLatin1String("OFF ")), kWaitMs);
        pump->setDiscreteInput(0, true);
        QTRY_COMPARE_WITH_TIMEOUT(row(cw, QStringLiteral("DI_01"))->text(4), QStringLiteral("Pass"), kWaitMs);
        QVERIFY2(QRegularExpression(QStringLiteral("^OFF \\d\\d:\\d\\d:\\d\\d\\.\\d{3}, ON \\d\\d:\\d\\d:\\d\\d\\.\\d{3}$"))
                     .match(row(cw, QStringLiteral("DI_01"))->text(3)).hasMatch(), qPrintable(row(cw, QStringLiteral("DI_01"))->text(3)));
        QCOMPARE(cw->List->currentItem(), row(cw, QStringLiteral("DI_02")));

        // RY_02 switched on alone (RY_01 stays on), read back, passed with Enter, switched off.
        QVERIFY(w->setOutput(0, 1, true));
        QTRY_VERIFY_WITH_TIMEOUT(pump->coil(0), kWaitMs);
        keys(cw->List, Qt::Key_Down, 8);
        keys(cw->List, Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(row(cw, QStringLiteral("RY_02"))->text(3), QStringLiteral("switched on, read back ON"), kWaitMs);
        keys(cw->List, Qt::Key_Down); // one test at a time
        keys(cw->List, Qt::Key_Space);
        QCOMPARE(cw->Label_Status->text(), QStringLiteral("First pass (Enter) or fail (F) RY_02"));
        QVERIFY(pump->coil(0) && pump->coil(1) && !pump->coil(2) && !pump->coil(3));
        keys(cw->List, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(!pump->coil(1) && pump->coil(0), kWaitMs);
        QCOMPARE(row(cw, QStringLiteral("RY_02"))->text(4), QStringLiteral("Pass"));
        QCOMPARE(cw->List->currentItem(), row(cw, QStringLiteral("RY_03")));

        // Points typed: AI_1 held at 4 mA passes, AI_2 at 4.4 mA does not, nor AI_3 with one point
        // of three passed, nor AI_4 without points.
        keys(cw->List, Qt::Key_Down, 3);
        keys(cw->List, Qt::Key_P);
        enterText(cw->Edit_Points, "4 +-0.1", false, Qt::Key_Return);
        keys(cw->List, Qt::Key_Down, 2);
        enterText(cw->Edit_Points, QString(), false, Qt::Key_Return);
        keys(cw->List, Qt::Key_Up, 3);
        enterText(cw->Edit_Points, "4 ±0.1", false, Qt::Key_Return);
        QTRY_COMPARE_WITH_TIMEOUT(row(cw, QStringLiteral("AI_1"))->text(4), QStringLiteral("Pass"), kWaitMs);
        QCOMPARE(row(cw, "AI_1")->text(2) + '|' + row(cw, "AI_1")->text(3), "analog input 4 ±0.1 mA|4 mA passed 4..4");
        QTRY_COMPARE_WITH_TIMEOUT(row(cw, QStringLiteral("AI_3"))->text(3), QStringLiteral("now 4.00mA; 4 mA passed 4..4, 12 mA, 20 mA"), kWaitMs);
        QCOMPARE(row(cw, QStringLiteral("AI_2"))->text(3) + row(cw, QStringLiteral("AI_2"))->text(4), QStringLiteral("now 4.40mA; 4 mA"));
        QCOMPARE(row(cw, QStringLiteral("AI_4"))->text(2) + row(cw, QStringLiteral("AI_4"))->text(3) + row(cw, QStringLiteral("AI_4"))->text(4),
                 QStringLiteral("analog input: type its points (P)now 0.00mA"));

        // The analog output at each point: measured within, confirmed, measured outside: Fail.
        keys(cw->List, Qt::Key_Down, 8); // the last row stays
        keys(cw->List, Qt::Key_Space);
        for (const auto &[microamps, measured] : {std::pair{4000, "3.9"}, {12000, ""}, {20000, "19.8"}}) {
            QTRY_COMPARE_WITH_TIMEOUT(ao->holding(0), microamps, kWaitMs);
            enterText(cw->Edit_Measured, measured, false, Qt::Key_Return);
        }
        QTRY_COMPARE_WITH_TIMEOUT(ao->holding(0), 1000, kWaitMs); // as it was
        QCOMPARE(row(cw, QStringLiteral("AO"))->text(4) + ": " + row(cw, QStringLiteral("AO"))->text(3),
                 QStringLiteral("Fail: 4 mA: 3.9; 12 mA: confirmed; 20 mA: 19.8"));
        keys(cw->List, Qt::Key_Down, 19); // again: F typed where the measured value goes fails it
        keys(cw->List, Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(ao->holding(0), 4000, kWaitMs);
        QTest::keyClicks(cw->Edit_Measured, QStringLiteral("4"));
        QTest::keyClick(cw->Edit_Measured, Qt::Key_F);
        QTRY_COMPARE_WITH_TIMEOUT(ao->holding(0), 1000, kWaitMs);
        QCOMPARE(row(cw, QStringLiteral("AO"))->text(4) + cw->Edit_Measured->text(), QStringLiteral("Fail"));

        // C: a comment; N: "Not tested" with the reason typed.
        QCOMPARE(cw->List->currentItem(), row(cw, QStringLiteral("DI_02")));
        keys(cw->List, Qt::Key_C);
        enterText(cw->Edit_Comment, "cable tray 3", false, Qt::Key_Return);
        keys(cw->List, Qt::Key_N);
        enterText(cw->Edit_Reason, "no cable", false, Qt::Key_Return);
        QCOMPARE(row(cw, QStringLiteral("DI_02"))->text(4) + ": " + row(cw, QStringLiteral("DI_02"))->text(3), QStringLiteral("Not tested: no cable"));
        keys(cw->List, Qt::Key_Up); // a decided channel's comment is recorded again
        enterText(cw->Edit_Comment, "cable tray 4", false, Qt::Key_Return);

        // The journal has each result; reopened after a power cut cut its last line, it resumes.
        QString error;
        std::optional<CheckJournal> read = readJournal(journal, &error);
        QVERIFY2(read, qPrintable(error));
        QCOMPARE(read->technician + '|' + read->result(1, "RY_02")->values + '|' + QString::number(read->records.size()),
                 QStringLiteral("Ann Tech|switched on, read back ON|7"));
        keys(cw->List, Qt::Key_Down, 8);
        keys(cw->List, Qt::Key_Space);
        QTRY_VERIFY_WITH_TIMEOUT(pump->coil(2), kWaitMs);
        QPointer<CheckoutWindow> closed = cw;
        cw->close(); // a test under way ends undecided, its output off
        QTRY_VERIFY_WITH_TIMEOUT(!closed && !pump->coil(2), kWaitMs);
        const QString cut = QStringLiteral("../site/panel.checkout.jsonl");
        env.writeSys(cut, env.readSys(cut) + "{\"time\": \"2026-");
        QTest::mouseClick(w->Command_Checkout, Qt::LeftButton);
        QVERIFY((cw = w->findChild<CheckoutWindow *>()) && asked == 1); // the technician not asked again
        QVERIFY(cw->Label_Technician->text().startsWith(QLatin1String("Ann Tech, begun ")));
        QCOMPARE(cw->Label_Status->text(), QStringLiteral("line 9 is damaged and was skipped (cut off by a power cut?)"));
        for (const char *channel : {"DI_01", "RY_02", "AI_1", "AO"})
            QVERIFY2(!row(cw, QLatin1String(channel))->text(4).isEmpty(), channel);
        QCOMPARE(row(cw, QStringLiteral("DI_02"))->text(3) + "|" + row(cw, QStringLiteral("DI_02"))->text(5), QStringLiteral("no cable|cable tray 4"));
        QCOMPARE(cw->List->currentItem(), row(cw, QStringLiteral("DI_03")));
        keys(cw->List, Qt::Key_Return); // an input is not passed by hand
        QCOMPARE(cw->Label_Status->text() + row(cw, QStringLiteral("DI_03"))->text(4), QStringLiteral("DI_03 passes by itself; F fails it"));

        // "Export report…": PDF, HTML and CSV of what the journal holds.
        CheckoutWindow::setAskPath([&env](QWidget *) { return env.path() + QStringLiteral("/report.pdf"); });
        QTest::mouseClick(cw->Command_Report, Qt::LeftButton);
        CheckoutWindow::setAskPath({});
        QCOMPARE(cw->Label_Status->text(), QStringLiteral("Report written: %1/report.pdf, .html, .csv").arg(env.path()));
        QVERIFY(env.readSys("../report.pdf").startsWith("%PDF-") && !env.readSys("../report.html").isEmpty());
        QVERIFY(env.readSys("../report.csv")
                    .contains("1,KV5510ADAM,Pump house,RY_02,pump 2,output,Pass,\"switched on, read back ON\","));

        // "Fail" (or F) fails the selected channel; with the site's folder removed it stays undecided, told why.
        QTest::mouseClick(cw->Command_Fail, Qt::LeftButton);
        QCOMPARE(row(cw, QStringLiteral("DI_03"))->text(4), QStringLiteral("Fail"));
        QVERIFY(QDir(env.path() + QStringLiteral("/site")).removeRecursively());
        keys(cw->List, Qt::Key_F);
        QCOMPARE(row(cw, QStringLiteral("DI_04"))->text(4), QString());
        QVERIFY2(cw->Label_Status->text().startsWith(QLatin1String("DI_04 of module 1 is not recorded: ")), qPrintable(cw->Label_Status->text()));
        CheckoutWindow::setAskName({});
    }
};

QTEST_MAIN(TestCheckoutWindow)
#include "test_checkoutwindow.moc"
