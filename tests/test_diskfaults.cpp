// Settings files that cannot be written or make no sense: closing a window is not held up by a
// set.rc it cannot save, names the file and leaves what was there alone; a tm.rc that is missing,
// megabytes of one line, binary noise or lines without an interval is named once on load.
//
// The not-writable folder needs a user the file permissions apply to. As root the case is
// skipped; CTest runs it a second time as user 65534 through setpriv (test_diskfaults_unprivileged).
#include "support/guitest.h"

#include "testwindow.h"

#include <QPointer>
#include <QRandomGenerator>

#include <unistd.h>

class TestDiskFaults : public QObject
{
    Q_OBJECT
private slots:
    // A window whose baud rate changed closes: Main is shown once, the window goes, the one message
    // names set.rc, and sys/ holds exactly what it held.
    void notWritableSysFolder()
    {
        if (::geteuid() == 0)
            QSKIP("root writes into read-only folders; test_diskfaults_unprivileged runs this case as user 65534");
        GuiTestEnvironment env(shortTimingFile(), "3\r\n19200\r\nEven\r\n");
        const QString sys = env.path() + QStringLiteral("/sys");
        const QFile::Permissions writable = QFileInfo(sys).permissions();
        QVERIFY(QFile::setPermissions(sys, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
        const auto restore = qScopeGuard([&] {
            QFile::setPermissions(sys, writable);
            ModuleWindow::setShowMain({});
        });
        int mainShown = 0;
        ModuleWindow::setShowMain([&mainShown] { ++mainShown; });
        QPointer<ModuleWindow> w = createTestWindow(QStringLiteral("KV5510ADAM"));
        w->show();
        w->Combo2->setCurrentIndex(w->Combo2->findText(QStringLiteral("4800")));
        QVERIFY(w->close());
        QTRY_VERIFY(w.isNull());
        QCOMPARE(mainShown, 1);
        QCOMPARE(env.messages.size(), 1);
        QVERIFY2(env.messages[0].startsWith(QStringLiteral("Cannot write ./sys/set.rc: ")) && env.messages[0].size() > 27,
                 qPrintable(env.messages[0]));
        QCOMPARE(QDir(sys).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), (QStringList{"set.rc", "tm.rc"}));
        QCOMPARE(env.readSys(QStringLiteral("set.rc")), QByteArray("3\r\n19200\r\nEven\r\n"));
    }

    // One message on load for a tm.rc that is missing, megabytes of one line or binary noise, or
    // whose lines for the window give a letter, a zero or an overflowing number.
    void unreadableTimingFile()
    {
        QByteArray noise(10 * 1024 * 1024, Qt::Uninitialized);
        QRandomGenerator(20240611).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
        const auto spoilt = [](const QList<int> &lines) {
            const QList<QByteArray> fields = {"    x", "    0", "99999"};
            QList<QByteArray> text = shortTimingFile().split('\n');
            for (int i = 0; i < lines.size(); ++i)
                text[lines[i] - 1] = text[lines[i] - 1].left(11) + fields[i] + "\r";
            return text.join('\n');
        };
        const QString cannot = QStringLiteral("Cannot read ./sys/tm.rc");
        const struct { const char *window; QByteArray content; QString message; } cases[] = {
            {"KV5510ADAM", {}, cannot}, {"KV5510ADAM", noise, cannot},
            {"KV5510ADAM", QByteArray(noise.size(), '7'), cannot + ": it holds 1 of its 20 lines"},
            {"KV1730ADAM", spoilt({5}), cannot + ": line 5 gives no interval"}, {"KV5510ADAM", spoilt({5}), {}},
            {"KV1740ADAM", spoilt({4, 5}), cannot + ": lines 4, 5 give no interval"},
            {"KV7720ADAM", spoilt({20, 16}), cannot + ": lines 16, 20 give no interval"}};
        for (const auto &c : cases) {
            GuiTestEnvironment env(c.content);
            QVERIFY(!c.content.isEmpty() || QFile::remove(QStringLiteral("sys/tm.rc")));
            const auto w = owned(createTestWindow(QString::fromLatin1(c.window)));
            QCOMPARE(env.messages.size(), c.message.isEmpty() ? 0 : 1);
            const QString said = env.messages.value(0);
            QVERIFY2(c.content == noise ? said.startsWith(c.message) : said == c.message, qPrintable(said));
            QVERIFY(w->isVisible());
        }
    }
};

QTEST_MAIN(TestDiskFaults)
#include "test_diskfaults.moc"
