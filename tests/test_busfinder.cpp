// The Bus Finder window on simulated modules, one of them late, behind an adapter that echoes: opened from Main with Ctrl+B, a sweep typed in as a
// technician would, its table, copy, CSV and its export, and the double-click that hands over to a model's
// window with the port, baud rate, parity and address chosen.
#include "support/guitest.h"

#include "busfinder.h"
#include "toolwindows.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QProgressBar>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTimer>

namespace {
constexpr int kWaitMs = 20000;

// Types into the box, then leaves it with Tab, as a technician would.
void retype(QComboBox *box, const QString &text)
{
    enterText(box, text, false);
    QTest::keyClick(box->lineEdit(), Qt::Key_Tab);
}

QStringList tableRows(QTableWidget *t)
{
    QStringList rows;
    for (int i = 0; i < t->rowCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < 7; ++c)
            cells << (c == 5 ? QString() : t->item(i, c)->text());
        rows << cells.join(QLatin1Char('|'));
    }
    return rows;
}
} // namespace

class TestBusFinder : public QObject
{
    Q_OBJECT
private slots:
    void sweepTableAndHandOver()
    {
        GuiTestEnvironment env;
        env.bus.addModule(5510, 3, 2);
        env.bus.addModule(5530, 3, 2);
        env.bus.addModule(1730, 7, 3)->faults.delayMs = 40; // heard when the broadcast is asked again
        env.bus.addModule(7710, 40, 7);
        const QByteArray setRc = env.readSys(QStringLiteral("set.rc"));
        ToolWindows tool;
        tool.main.show();
        tool.main.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&tool.main));
        QTest::keyClick(&tool.main, Qt::Key_B, Qt::ControlModifier);
        auto *w = qobject_cast<BusFinderWindow *>(tool.registry.window(QStringLiteral("BusFinder")));
        QVERIFY(w && w->isVisible() && !tool.main.isVisible());
        QCOMPARE(w->windowTitle(), QStringLiteral("Bus Finder"));

        // On an adapter that echoes every request (the finder sets the echo aside and finds the same),
        // sweep 9600,None, 19200,None and 19200,Even only, addresses 1 to 45.
        QVERIFY(simLine(w));
        simLine(w)->echo = true;
        for (int i : {0, 3, 4, 5, 7}) {
            auto *box = child<QCheckBox>(w, QStringLiteral("Check_Code_%1").arg(i));
            QVERIFY(box && box->isChecked());
            QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
            QVERIFY(!box->isChecked());
        }
        retype(w->Combo_To, QStringLiteral("45"));
        retype(w->Combo_Turnaround, QStringLiteral("5"));
        QTest::mouseClick(w->Command_Start, Qt::LeftButton);
        QCOMPARE(w->Command_Start->text(), QStringLiteral("Stop"));
        QTRY_VERIFY_WITH_TIMEOUT(w->Label_TimeLeft->text().endsWith(QLatin1String(" s left")), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(w->Command_Start->text(), QStringLiteral("Start"), kWaitMs);
        QVERIFY(env.messages.isEmpty() && !simLine(w)->isOpen()); // the finder's end closes the line
        QCOMPARE(w->Progress->value(), w->Progress->maximum());
        QCOMPARE(w->Progress->maximum(), 3 + 3 * 45 + 2); // the late module's broadcast and the shared address again
        QCOMPARE(w->Label_TimeLeft->text(), QStringLiteral("3 found"));

        // Sorted by model, descending, with a click on its header twice.
        QTableWidget *t = w->Table_Results;
        const QHeaderView *header = t->horizontalHeader();
        for (int i = 0; i < 2; ++i)
            QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(header->sectionViewportPosition(1) + 5, 5));
        QCOMPARE(tableRows(t), (QStringList{"40|KV7710ADAM|7|19200|Even||", "7|KV1730ADAM|3|19200|None||",
                                            "3|||9600|None||shared address?"}));
        QVERIFY(t->item(0, 5)->data(Qt::DisplayRole).toDouble() > 0);

        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(2, 0)).center());
        QTest::keyClick(t, Qt::Key_C, Qt::ControlModifier);
        const QString copied = QApplication::clipboard()->text();
        QVERIFY2(QRegularExpression(QStringLiteral("^3\t\t\t9600\tNone\t[0-9.]+\tshared address\\?$")).match(copied).hasMatch(),
                 qPrintable(copied));
        QVERIFY(w->csvText().startsWith(QLatin1String("Address,Model,Code,Baud,Parity,Response ms,Note\n40,KV7710ADAM,7,19200,Even,")));
        // "Export CSV…" writes that text to the file named in its dialog.
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&answer] {
            if (auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget())) {
                answer.stop();
                dialog->selectFile(QDir::current().filePath(QStringLiteral("bus.csv")));
                QMetaObject::invokeMethod(dialog, &QDialog::accept);
            }
        });
        answer.start(10);
        QTest::mouseClick(w->Command_Export, Qt::LeftButton);
        QFile exported(QStringLiteral("bus.csv"));
        QVERIFY(exported.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(exported.readAll()), w->csvText());

        // The shared address has no model: a double-click there opens nothing.
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, t->visualItemRect(t->item(2, 0)).center());
        QVERIFY(w->isVisible());
        const QPoint model = t->visualItemRect(t->item(0, 1)).center();
        QTest::mouseClick(t->viewport(), Qt::LeftButton, {}, model);
        QTest::mouseDClick(t->viewport(), Qt::LeftButton, {}, model);
        ModuleWindow *m = tool.registry.window(QStringLiteral("KV7710ADAM"));
        QVERIFY(m && m->isVisible());
        QTRY_VERIFY(!tool.registry.window(QStringLiteral("BusFinder")));
        QVERIFY(!tool.main.isVisible());
        QCOMPARE(m->Combo1->currentText() + m->Combo2->currentText() + m->Combo3->currentText(), QStringLiteral("COM119200Even"));
        QCOMPARE(m->Command_Port->text(), QStringLiteral("Open Port"));
        for (QComboBox *box : std::as_const(m->Combo_Addr))
            QVERIFY(!box || box->currentText() == QLatin1String("40"));
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), setRc);
        m->close();
        QVERIFY(tool.main.isVisible());
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("1\r\n19200\r\nEven\r\n"));
    }
};

QTEST_MAIN(TestBusFinder)
#include "test_busfinder.moc"
