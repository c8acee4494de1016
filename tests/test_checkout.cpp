// The checkout: the channels of a site with their tests, the rules that pass an input and an
// analog point, and the journal: resumed, a damaged line skipped and told, a full disk and a
// vanished folder refused, and a writer killed with SIGKILL that loses nothing it announced.
#include "checkout.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

namespace {

SiteModule module(int address, const char *model, QMap<QString, QString> tags = {})
{
    return {address, QString::fromLatin1(model), 2, QString(), tags, {}};
}

// "caption kind unit points" of each channel, "AI_3 analog input mA 4±0.1 12±0.1 20±0.1".
QStringList shown(const QVector<CheckChannel> &channels)
{
    QStringList lines;
    for (const CheckChannel &c : channels) {
        QString line = QStringLiteral("%1:%2 %3 %4 %5").arg(c.module).arg(c.channel, checkKindText(c.kind), c.unit, c.tag);
        for (const CheckPoint &p : c.points)
            line += QStringLiteral(" %1±%2").arg(p.target).arg(p.tolerance);
        lines << line.simplified();
    }
    return lines;
}

CheckRecord record(int i, Verdict verdict = Verdict::Pass, const QString &comment = {})
{
    return {1772366400250 + i * 1000, 3, QStringLiteral("KV5510ADAM"), QStringLiteral("DI_%1").arg(i), CheckKind::Input,
            QStringLiteral("tag <%1>").arg(i), verdict, QStringLiteral("on 12:00:01, off 12:00:02"), comment, QString()};
}

CheckJournal head()
{
    CheckJournal j;
    j.site = {QStringLiteral("Pump house"), QStringLiteral("COM3"), 6, {module(3, "KV5510ADAM", {{"DI_03", "pump 2"}})}, {}};
    j.sitePath = QStringLiteral("/sites/pumphouse.kvsite");
    j.technician = QStringLiteral("A. Técnico");
    j.startedMs = 1772366400250;
    j.toolVersion = QStringLiteral("1.2.3");
    return j;
}

QByteArray fileText(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeText(const QString &path, const QByteArray &text)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(text) == text.size();
}

// The hidden mode the SIGKILL case runs: appends results to the journal one by one and says
// "decided N" after each append has returned.
int appendChild(const QString &path)
{
    for (int i = 1;; ++i) {
        QString error;
        if (!appendResult(path, record(i), &error))
            return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;
        std::printf("decided %d\n", i);
        std::fflush(stdout);
    }
}

} // namespace

class TestCheckout : public QObject
{
    Q_OBJECT
private slots:
    void channelsOfEachModel_data()
    {
        QTest::addColumn<QString>("model");
        QTest::addColumn<QStringList>("channels");
        QTest::newRow("relays") << "KV5510ADAM"
            << QStringList{"0:DI_01 digital input", "0:DI_02 digital input", "0:DI_03 digital input pump 2",
                           "0:DI_04 digital input", "0:DI_05 digital input", "0:DI_06 digital input", "0:DI_07 digital input",
                           "0:DI_08 digital input", "0:RY_01 output", "0:RY_02 output", "0:RY_03 output", "0:RY_04 output"};
        QTest::newRow("combined, padded captions") << "KV7710ADAM"
            << QStringList{"0:DI_01 digital input", "0:DI_02 digital input", "0:DI_03 digital input pump 2",
                           "0:DI_04 digital input", "0:DO_01 output", "0:DO_02 output", "0:DO_03 output", "0:DO_04 output",
                           "0:AI_1 analog input mA 4±0.1 12±0.1 20±0.1", "0:AI_2 analog input mA 4±0.1 12±0.1 20±0.1",
                           "0:AI_3 analog input mA 4±0.1 12±0.1 20±0.1", "0:AI_4 analog input mA 4±0.1 12±0.1 20±0.1",
                           "0:AI_5 analog input mA 4±0.1 12±0.1 20±0.1", "0:AI_6 analog input mA 4±0.1 12±0.1 20±0.1"};
        QTest::newRow("voltage") << "KV1740ADAM"
            << QStringList{"0:VI_1 analog input V 0±0.05 5±0.05 10±0.05", "0:VI_2 analog input V 0±0.05 5±0.05 10±0.05",
                           "0:VI_3 analog input V 0±0.05 5±0.05 10±0.05", "0:VI_4 analog input V 0±0.05 5±0.05 10±0.05",
                           "0:VI_5 analog input V 0±0.05 5±0.05 10±0.05", "0:VI_6 analog input V 0±0.05 5±0.05 10±0.05",
                           "0:VI_7 analog input V 0±0.05 5±0.05 10±0.05", "0:VI_8 analog input V 0±0.05 5±0.05 10±0.05"};
        QTest::newRow("whole degrees: typed in") << "KV7720ADAM"
            << QStringList{"0:DI_01 digital input", "0:DI_02 digital input", "0:DI_03 digital input pump 2", "0:DI_04 digital input",
                           "0:DO_01 output", "0:DO_02 output", "0:DO_03 output", "0:DO_04 output", "0:T_1 analog input ℃",
                           "0:T_2 analog input ℃", "0:T_3 analog input ℃", "0:T_4 analog input ℃"};
        QTest::newRow("analog output") << "KV1720ADAM" << QStringList{"0:AO analog output mA 4±0.1 12±0.1 20±0.1"};
        QTest::newRow("not a model") << "KV9999ADAM" << QStringList{};
    }
    void channelsOfEachModel()
    {
        QFETCH(QString, model);
        QFETCH(QStringList, channels);
        const Site site{"S", "COM1", 2, {module(1, qPrintable(model), {{"DI_03", "pump 2"}, {"RY_09", "none"}})}, {}};
        QCOMPARE(shown(checkChannels(site)), channels);
    }

    void channelsOfSeveralModulesInTheSitesOrder()
    {
        const Site site{"S", "COM1", 2, {module(7, "KV1710ADAM", {{"DS3", "cold well"}}), module(2, "KV5520ADAM")}, {}};
        const QVector<CheckChannel> channels = checkChannels(site);
        QCOMPARE(channels.size(), 16);
        QCOMPARE(shown(channels.mid(2, 1)), QStringList{"0:DS3 analog input ℃ cold well"});
        QCOMPARE(shown(channels.mid(8, 1)), QStringList{"1:RY_01 output"});
        QCOMPARE(channels[15].index, 7);
    }

    // Readings "ms:value" (x: no value), whether the point passed and the values kept.
    void pointHeldWithinTolerance_data()
    {
        QTest::addColumn<QStringList>("readings");
        QTest::addColumn<bool>("passed");
        QTest::addColumn<QString>("seen");
        QTest::newRow("held a second") << QStringList{"0:19.95", "500:20", "1000:20.05"} << true << "19.95 20 20.05";
        QTest::newRow("a millisecond short") << QStringList{"0:20", "999:20"} << false << "20 20";
        QTest::newRow("at the edges") << QStringList{"0:20.1", "1000:19.9"} << true << "20.1 19.9";
        QTest::newRow("just outside") << QStringList{"0:20.11", "1000:20"} << false << "20";
        QTest::newRow("a reading outside starts again")
            << QStringList{"0:20", "600:21", "700:20", "1600:20", "1700:20"} << true << "20 20 20";
        QTest::newRow("no value starts again") << QStringList{"0:20", "500:x", "1000:20"} << false << "20";
        QTest::newRow("passed stays passed") << QStringList{"0:20", "1000:20", "1100:3"} << true << "20 20";
    }
    void pointHeldWithinTolerance()
    {
        QFETCH(QStringList, readings);
        PointWatch watch;
        watch.point = {20, 0.1};
        for (const QString &r : readings)
            watch.heard(r.section(':', 1) == "x" ? std::nullopt : std::optional<double>(r.section(':', 1).toDouble()),
                        r.section(':', 0, 0).toLongLong());
        QTEST(watch.passed, "passed");
        QStringList seen;
        for (double v : watch.seen)
            seen << QString::number(v);
        QTEST(seen.join(' '), "seen");
    }

    void inputPassesOnceBothStatesAreSeen_data()
    {
        QTest::addColumn<QString>("states");
        QTest::addColumn<bool>("passed");
        QTest::addColumn<QString>("changes");
        QTest::newRow("off only") << "000" << false << "0@0";
        QTest::newRow("on, then off") << "1100" << true << "1@0 0@2";
        QTest::newRow("off, on, off") << "0101" << true << "0@0 1@1 0@2 1@3";
    }
    void inputPassesOnceBothStatesAreSeen()
    {
        QFETCH(QString, states);
        InputWatch watch;
        for (int i = 0; i < states.size(); ++i)
            watch.heard(states[i] == '1', i);
        QTEST(watch.passed(), "passed");
        QStringList changes;
        for (const InputWatch::Change &c : watch.changes)
            changes << QStringLiteral("%1@%2").arg(int(c.on)).arg(c.wallMs);
        QTEST(changes.join(' '), "changes");
    }

    void texts()
    {
        QCOMPARE(verdictOf("Not tested"), Verdict::NotTested);
        QCOMPARE(verdictOf(""), Verdict::Untested);
        QCOMPARE(verdictOf("pass"), std::nullopt);
        QCOMPARE(journalPath("/a/pump.house.kvsite"), QStringLiteral("/a/pump.house.checkout.jsonl"));
    }

    void journalResumedLaterWins()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("p.checkout.jsonl");
        QString error;
        QVERIFY2(startJournal(path, head(), &error), qPrintable(error));
        QVERIFY(!startJournal(path, head(), &error)); // never over a journal begun before
        QCOMPARE(error, path + ": a journal is there already");
        QVERIFY(appendResult(path, record(1, Verdict::Fail, "wired to DI_2, \"swap\"\nat X1"), &error));
        QVERIFY(appendResult(path, record(2), &error));
        QVERIFY(appendResult(path, record(1, Verdict::NotTested), &error));
        const std::optional<CheckJournal> j = readJournal(path, &error);
        QVERIFY2(j, qPrintable(error));
        QCOMPARE(j->site.modules[0].channelTags.value("DI_03"), QStringLiteral("pump 2"));
        QCOMPARE(QStringList({j->site.name, j->site.port, QString::number(j->site.code), j->sitePath, j->technician, j->toolVersion}),
                 QStringList({"Pump house", "COM3", "6", "/sites/pumphouse.kvsite", "A. Técnico", "1.2.3"}));
        QCOMPARE(j->startedMs, 1772366400250);
        QCOMPARE(j->records.size(), 3);
        QCOMPARE(j->warning, QString());
        const CheckRecord &first = j->records[0];
        QCOMPARE(QStringList({QString::number(first.wallMs), QString::number(first.address), first.model, first.channel,
                              checkKindText(first.kind), first.tag, verdictText(first.verdict), first.values, first.comment}),
                 QStringList({"1772366401250", "3", "KV5510ADAM", "DI_1", "digital input", "tag <1>", "Fail",
                              "on 12:00:01, off 12:00:02", "wired to DI_2, \"swap\"\nat X1"}));
        QCOMPARE(j->result(3, "DI_1")->verdict, Verdict::NotTested);
        QCOMPARE(j->result(3, "DI_2")->verdict, Verdict::Pass);
        QCOMPARE(j->result(4, "DI_2"), nullptr);
    }

    // A damaged line is skipped and told; every whole line before and after it is kept, and a
    // result appended after a cut-off last line stands on a line of its own.
    void damagedLineSkipped_data()
    {
        QTest::addColumn<int>("line");
        QTest::addColumn<QByteArray>("cut"); // what the damaged line is cut to
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QString>("channels");
        QTest::newRow("last, cut off") << 4 << QByteArray("{\"time\":\"2026-") << "line 4 is damaged and was skipped (cut off by a power cut?)" << "DI_1 DI_2";
        QTest::newRow("last, unknown verdict") << 4 << QByteArray("{\"verdict\":\"Maybe\"}") << "line 4 is damaged and was skipped (cut off by a power cut?)" << "DI_1 DI_2";
        QTest::newRow("middle") << 3 << QByteArray("\"DI_2\"") << "line 3 is damaged and was skipped" << "DI_1 DI_3";
    }
    void damagedLineSkipped()
    {
        QFETCH(int, line);
        QFETCH(QByteArray, cut);
        QTemporaryDir dir;
        const QString path = dir.filePath("j.jsonl");
        QString error;
        QVERIFY(startJournal(path, head(), &error));
        for (int i = 1; i <= 3; ++i)
            QVERIFY(appendResult(path, record(i), &error));
        QList<QByteArray> lines = fileText(path).split('\n');
        lines[line - 1] = cut;
        QVERIFY(writeText(path, lines.mid(0, line == 4 ? 4 : 5).join('\n')));
        std::optional<CheckJournal> j = readJournal(path, &error);
        QVERIFY2(j, qPrintable(error));
        QTEST(j->warning, "warning");
        QStringList channels;
        for (const CheckRecord &r : j->records)
            channels << r.channel;
        QTEST(channels.join(' '), "channels");
        QVERIFY(appendResult(path, record(9), &error));
        j = readJournal(path, &error);
        QCOMPARE(j->records.last().channel, QStringLiteral("DI_9"));
        QCOMPARE(j->warning, QStringLiteral("line %1 is damaged and was skipped").arg(line));
    }

    void journalRefused_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("head cut off") << QByteArray("{\"format\":1,\"journal\":\"check\n")
                                      << "line 1 is not a checkout journal's head (damaged?)";
        QTest::newRow("a later format") << QByteArray("{\"format\":2,\"journal\":\"checkout\"}\n")
                                        << "the journal is of format 2, a later version's; this one reads format 1";
        QTest::newRow("a site without modules")
            << QByteArray(R"({"format":1,"journal":"checkout","site":{"format":1,"name":"S","port":"COM1","code":2}})")
            << "line 1: the site in the head: line 1: modules is missing";
        QTest::newRow("no start time")
            << QByteArray(R"({"format":1,"journal":"checkout","site":{"format":1,"name":"S","port":"COM1","code":2,"modules":[]}})")
            << "line 1: the head has no start time (damaged?)";
    }
    void journalRefused()
    {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        const QString path = dir.filePath("j.jsonl");
        QVERIFY(writeText(path, text));
        QString error;
        QVERIFY(!readJournal(path, &error));
        QTEST(error.mid(path.size() + 2), "error");
        QVERIFY(!readJournal(dir.filePath("none.jsonl"), &error));
        QCOMPARE(error, dir.filePath("none.jsonl") + ": no such file");
    }

    void fullDiskAndVanishedFolderRefused()
    {
        QString error;
        QVERIFY(!appendResult("/dev/full", record(1), &error));
        QCOMPARE(error, "/dev/full: the result could not be written to the disk: No space left on device");
        QTemporaryDir dir;
        const QString path = dir.filePath("site/j.jsonl");
        QVERIFY(!startJournal(path, head(), &error));
        QVERIFY2(error.startsWith(path + ": "), qPrintable(error));
        QVERIFY(QDir(dir.path()).mkdir("site"));
        QVERIFY(startJournal(path, head(), &error));
        QVERIFY(QDir(dir.filePath("site")).removeRecursively());
        QVERIFY(!appendResult(path, record(1), &error));
        QCOMPARE(error, path + ": the journal is gone (its folder removed or the disk taken away?)");
    }

    // A writer killed with SIGKILL halfway loses none of the results it had announced as decided.
    void killedWriterLosesNothingAnnounced()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("j.jsonl");
        QString error;
        QVERIFY(startJournal(path, head(), &error));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--append-child", path});
        QVERIFY(child.waitForStarted());
        int announced = 0;
        QByteArray out;
        while (announced < 40 && child.state() == QProcess::Running) {
            child.waitForReadyRead(10000);
            out += child.readAllStandardOutput();
            announced = out.count('\n');
        }
        QVERIFY2(announced >= 40, child.readAllStandardError().constData());
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        out += child.readAllStandardOutput();
        const QList<QByteArray> said = out.trimmed().split('\n');
        announced = said.last().mid(8).toInt();
        QCOMPARE(said.last(), "decided " + QByteArray::number(announced));
        const std::optional<CheckJournal> j = readJournal(path, &error);
        QVERIFY2(j, qPrintable(error));
        QCOMPARE(j->warning, QString());
        QVERIFY2(j->records.size() >= announced, qPrintable(QStringLiteral("%1 < %2").arg(j->records.size()).arg(announced)));
        for (int i = 0; i < j->records.size(); ++i)
            QCOMPARE(j->records[i].tag, QStringLiteral("tag <%1>").arg(i + 1));
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--append-child")
        return appendChild(QString::fromLocal8Bit(argv[2]));
    QCoreApplication app(argc, argv);
    TestCheckout test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_checkout.moc"
