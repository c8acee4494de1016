#include "settingsfiles.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestSettingsFiles : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void setRcRoundTrip();
    void setRcDamaged();
    void setRcWriteFailureKeepsOldFile();
    void portIndex_data();
    void portIndex();
    void intervalField_data();
    void intervalField();
    void tmRcLines();
    void tmRcShortMissingAndHuge();
    void lineSplitting();

private:
    void write(const QString &name, const QByteArray &bytes);
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSettingsFiles::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void TestSettingsFiles::write(const QString &name, const QByteArray &bytes)
{
    QFile f(m_dir->filePath(name));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

void TestSettingsFiles::setRcRoundTrip()
{
    const QString path = m_dir->filePath(QStringLiteral("set.rc"));
    SerialChoice c;
    c.port = QStringLiteral("0");
    c.baud = QStringLiteral("1234x"); // typed baud texts are kept as typed
    c.parity = QStringLiteral("Even");
    QString error;
    QVERIFY(writeSetRc(path, c, &error));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("0\r\n1234x\r\nEven\r\n"));
    const SerialChoice back = readSetRc(path);
    QCOMPARE(back.port, c.port);
    QCOMPARE(back.baud, c.baud);
    QCOMPARE(back.parity, c.parity);
    QVERIFY(QDir(m_dir->path()).entryList(QDir::Files) == QStringList{QStringLiteral("set.rc")});
}

void TestSettingsFiles::setRcDamaged()
{
    const QString path = m_dir->filePath(QStringLiteral("set.rc"));
    SerialChoice c = readSetRc(path); // missing
    QCOMPARE(c.port + c.baud + c.parity, QStringLiteral("19600None"));
    write(QStringLiteral("set.rc"), "3\n");
    c = readSetRc(path);
    QCOMPARE(c.port + "|" + c.baud + "|" + c.parity, QStringLiteral("3|9600|None"));
    write(QStringLiteral("set.rc"), "4\r19200\r\nEven\r\nextra\r\n");
    c = readSetRc(path);
    QCOMPARE(c.port + "|" + c.baud + "|" + c.parity, QStringLiteral("4|19200|Even"));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("dir.rc")));
    c = readSetRc(m_dir->filePath(QStringLiteral("dir.rc")));
    QCOMPARE(c.port, QStringLiteral("1"));
}

void TestSettingsFiles::setRcWriteFailureKeepsOldFile()
{
    // A folder where set.rc should be: the write fails and the folder is left alone.
    const QString folder = m_dir->filePath(QStringLiteral("set.rc"));
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("set.rc")));
    QString error;
    QVERIFY(!writeSetRc(folder, SerialChoice(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList());
}

void TestSettingsFiles::portIndex_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("index");
    QTest::newRow("3") << "3" << 2;
    QTest::newRow("0") << "0" << -1;
    QTest::newRow("9") << "9" << 8;
    QTest::newRow("10") << "10" << -1;
    QTest::newRow("blank 2") << " 2" << 1;
    // Position first, then rounded: 2.5 - 1 = 1.5 -> 2, 3.5 - 1 = 2.5 -> 2.
    QTest::newRow("2.5 to even") << "2.5" << 2;
    QTest::newRow("3.5 to even") << "3.5" << 2;
    QTest::newRow("0.5 is COM1") << "0.5" << 0;
    QTest::newRow("text") << "abc" << -1;
    QTest::newRow("negative") << "-3" << -1;
}

void TestSettingsFiles::portIndex()
{
    QFETCH(QString, line);
    QFETCH(int, index);
    QCOMPARE(portIndexFromLine(line), index);
}

void TestSettingsFiles::intervalField_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("ms");
    QTest::newRow("blanks then 300") << "Overtime A   300" << 300;
    QTest::newRow("300ms") << "Overtime A 300ms" << 300;
    QTest::newRow("letter only") << "Overtime A x    " << 0;
    QTest::newRow("short line") << "Overtime A " << 0;
    QTest::newRow("partial field") << "Overtime A 12" << 12;
    QTest::newRow("after 16 ignored") << "Overtime A 0050099999" << 500;
    QTest::newRow("clamped high") << "Overtime A 99999" << 65535;
    QTest::newRow("clamped low") << "Overtime A -500" << 0;
    QTest::newRow("half to even") << "Overtime A 2.5  " << 2;
}

void TestSettingsFiles::intervalField()
{
    QFETCH(QString, line);
    QFETCH(int, ms);
    QCOMPARE(intervalFromLine(line), ms);
}

void TestSettingsFiles::tmRcLines()
{
    QByteArray text;
    for (int i = 1; i <= 22; ++i)
        text += QStringLiteral("Line %1").arg(i, -6).toLatin1() + QByteArray::number(i * 10).rightJustified(5) + "\r\n";
    write(QStringLiteral("tm.rc"), text);
    const TimingFile t = readTmRc(m_dir->filePath(QStringLiteral("tm.rc")));
    QVERIFY(t.complete());
    QCOMPARE(t.intervals.size(), 20);
    QCOMPARE(t.intervals[0], 10);
    QCOMPARE(t.intervals[19], 200);
}

void TestSettingsFiles::tmRcShortMissingAndHuge()
{
    write(QStringLiteral("tm.rc"), "Line 1      300\r\nLine 2      500\r\n");
    TimingFile t = readTmRc(m_dir->filePath(QStringLiteral("tm.rc")));
    QVERIFY(!t.complete());
    QCOMPARE(t.linesRead, 2);
    QCOMPARE(t.intervals[1], 500);
    QCOMPARE(t.intervals[2], 0);

    t = readTmRc(m_dir->filePath(QStringLiteral("missing.rc")));
    QCOMPARE(t.linesRead, 0);

    // 10 MB without a line end, and binary bytes: read quickly, nothing usable.
    write(QStringLiteral("huge.rc"), QByteArray(10 * 1024 * 1024, 'x'));
    t = readTmRc(m_dir->filePath(QStringLiteral("huge.rc")));
    QVERIFY(!t.complete());
    QByteArray binary;
    for (int i = 0; i < 4096; ++i)
        binary += char(i * 37 % 256);
    write(QStringLiteral("bin.rc"), binary);
    t = readTmRc(m_dir->filePath(QStringLiteral("bin.rc")));
    for (int v : t.intervals)
        QVERIFY(v >= 0 && v <= 65535);
}

void TestSettingsFiles::lineSplitting()
{
    QCOMPARE(splitSettingsLines("a\r\nb\rc\nd", 10), (QStringList{"a", "b", "c", "d"}));
    QCOMPARE(splitSettingsLines("a\r\n\r\nb", 10), (QStringList{"a", "", "b"}));
    QCOMPARE(splitSettingsLines("a\nb\nc", 2), (QStringList{"a", "b"}));
    QCOMPARE(splitSettingsLines(QByteArray(1000, 'y'), 1, 16).first().size(), 16);
    QCOMPARE(splitSettingsLines("\xB5", 1).first(), QString(QChar(0xB5)));
}

QTEST_APPLESS_MAIN(TestSettingsFiles)
#include "test_settingsfiles.moc"
