// Settings files that cannot be written or make no sense: the window closing must not be held up
// by a set.rc it cannot save, must name the file, must leave the previous file alone; and a
// tm.rc of megabytes of one line or of binary noise must not hang the window's load step.
//
// The not-writable folder needs a user the file permissions apply to. As root the case is
// skipped; CTest runs it a second time as user 65534 through setpriv (test_diskfaults_unprivileged).
#include "support/guitest.h"

#include "digitalwindow.h"

#include <QPointer>
#include <QRandomGenerator>

#include <unistd.h>

namespace {
// The window's choice differs from what set.rc holds, so a save that got through would show.
const QByteArray kPreviousSetRc = "3\r\n19200\r\nEven\r\n";

// Opens a digital window, changes its baud rate and closes it. Returns how often Main was shown.
int closeChangedWindow()
{
    int mainShown = 0;
    ModuleWindow::setShowMain([&mainShown] { ++mainShown; });
    QPointer<ModuleWindow> w = createTestWindow(QStringLiteral("KV5510ADAM"));
    if (!w)
        return -1;
    w->show();
    w->Combo2->setCurrentIndex(w->Combo2->findText(QStringLiteral("4800")));
    const bool closed = w->close();
    // The window deletes itself on close.
    if (!closed || !QTest::qWaitFor([&w] { return w.isNull(); }, 5000))
        mainShown = -2;
    ModuleWindow::setShowMain({});
    return mainShown;
}

QStringList sysEntries(const GuiTestEnvironment &env)
{
    return QDir(env.path() + QStringLiteral("/sys")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
}

void verifyCannotWriteMessage(const QStringList &messages)
{
    QCOMPARE(messages.size(), 1);
    const QString prefix = QStringLiteral("Cannot write ./sys/set.rc: ");
    QVERIFY2(messages[0].startsWith(prefix) && messages[0].size() > prefix.size(), qPrintable(messages[0]));
}
} // namespace

class TestDiskFaults : public QObject
{
    Q_OBJECT
private slots:
    void setRcIsAFolder();
    void notWritableSysFolder();
    void unreadableTimingFile_data();
    void unreadableTimingFile();
};

void TestDiskFaults::setRcIsAFolder()
{
    GuiTestEnvironment env;
    const QString setRc = env.path() + QStringLiteral("/sys/set.rc");
    QVERIFY(QFile::remove(setRc));
    QVERIFY(QDir().mkpath(setRc + QStringLiteral("/keep")));

    QCOMPARE(closeChangedWindow(), 1);
    verifyCannotWriteMessage(env.messages);
    if (QTest::currentTestFailed())
        return;
    // The folder is as it was and no temporary file was left beside it.
    QVERIFY(QFileInfo(setRc).isDir());
    QCOMPARE(QDir(setRc).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"keep"});
    QCOMPARE(sysEntries(env), (QStringList{"set.rc", "tm.rc"}));
}

void TestDiskFaults::notWritableSysFolder()
{
    if (::geteuid() == 0)
        QSKIP("root writes into read-only folders; test_diskfaults_unprivileged runs this case as user 65534");
    GuiTestEnvironment env;
    env.writeSys(QStringLiteral("set.rc"), kPreviousSetRc);
    const QString sys = env.path() + QStringLiteral("/sys");
    const QFile::Permissions writable = QFileInfo(sys).permissions();
    QVERIFY(QFile::setPermissions(sys, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup));
    // Give the folder back its permissions however the test ends, so that it can be removed.
    const auto restore = qScopeGuard([&] { QFile::setPermissions(sys, writable); });

    QCOMPARE(closeChangedWindow(), 1);
    verifyCannotWriteMessage(env.messages);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(env.readSys(QStringLiteral("set.rc")), kPreviousSetRc);
    QCOMPARE(sysEntries(env), (QStringList{"set.rc", "tm.rc"}));
}

void TestDiskFaults::unreadableTimingFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    const qsizetype size = 10 * 1024 * 1024;
    QTest::newRow("10 MB, no line end") << QByteArray(size, '7')
                                        << QStringLiteral("Cannot read ./sys/tm.rc: it holds 1 of its 20 lines");
    QByteArray noise(size, Qt::Uninitialized);
    QRandomGenerator random(20240611);
    random.fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    QTest::newRow("10 MB of binary bytes") << noise << QStringLiteral("Cannot read ./sys/tm.rc");
}

void TestDiskFaults::unreadableTimingFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    GuiTestEnvironment env(content);
    std::unique_ptr<DigitalWindow> w(static_cast<DigitalWindow *>(createTestWindow(QStringLiteral("KV5510ADAM"))));
    QVERIFY(w);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    QCOMPARE(env.messages.size(), 1);
    QVERIFY2(env.messages[0].startsWith(message), qPrintable(env.messages[0]));
}

QTEST_MAIN(TestDiskFaults)
#include "test_diskfaults.moc"
