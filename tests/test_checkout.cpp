// The checkout: the channels of a site with their tests, the rules that pass an input and an
// analog point, and the journal: resumed, a damaged line skipped and told, a full disk and a
// vanished folder refused, and a writer killed with SIGKILL that loses nothing it announced.
#include "checkout.h"
#include "checkoutreport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <cstdio>

#include <sys/resource.h>

namespace {

SiteModule module(int address, const char *model, QMap<QString, QString> tags = {}, int code = 2)
{
    return {address, QString::fromLatin1(model), code, QString(), tags, {}};
}

// "caption kind unit points" of each channel, "AI_3 analog input mA 4±0.1 12±0.1 20±0.1".
QStringList shown(const QVector<CheckChannel> &channels)
{
    QStringList lines;
    for (const CheckChannel &c : channels) {
        QString line = QStringLiteral("%1:%2/%3 %4 %5 %6").arg(c.module).arg(c.channel).arg(c.index).arg(checkKindText(c.kind), c.unit, c.tag);
        for (const CheckPoint &p : c.points)
            line += QStringLiteral(" %1±%2").arg(p.target).arg(p.tolerance);
        lines << line.simplified();
    }
    return lines;
}

CheckRecord record(int i, Verdict verdict = Verdict::Pass, const QString &comment = {}, const QString &reason = {})
{
    return {1772366400250 + i * 1000, 3, QStringLiteral("KV5510ADAM"), QStringLiteral("DI_%1").arg(i, 2, 10, QLatin1Char('0')), CheckKind::Input,
            QStringLiteral("tag <%1>").arg(i), verdict, QStringLiteral("on 12:00:01, off 12:00:02"), comment, reason};
}

CheckJournal head()
{
    return {{"Pump house", "COM3", 6, {module(3, "KV5510ADAM", {{"DI_03", "pump 2"}})}, {}}, "/sites/pumphouse.kvsite", "A. Técnico",
            1772366400250, "1.2.3", {}, {}};
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
    void initTestCase()
    {
        qputenv("TZ", "UTC");
        tzset();
    }

    // Per model: how many channels, and some of them by their place (the order: inputs, outputs,
    // analog inputs, the analog output).
    void channelsOfEachModel()
    {
        const struct { const char *model; int count; QStringList some; } models[] = {
            {"KV5510ADAM", 12, {"2 1:DI_03/2 digital input pump 2", "8 1:RY_01/0 output", "11 1:RY_04/3 output"}},
            {"KV7710ADAM", 14, {"4 1:DO_01/0 output", "10 1:AI_3/2 analog input mA 4±0.1 12±0.1 20±0.1", "13 1:AI_6/5 analog input mA 4±0.1 12±0.1 20±0.1"}},
            {"KV1740ADAM", 8, {"0 1:VI_1/0 analog input V 0±0.05 5±0.05 10±0.05"}},
            {"KV7720ADAM", 12, {"8 1:T_1/0 analog input ℃", "11 1:T_4/3 analog input ℃"}}, // whole degrees: typed in
            {"KV1720ADAM", 1, {"0 1:AO/0 analog output mA 4±0.1 12±0.1 20±0.1"}}, {"KV9999ADAM", 0, {}}};
        for (const auto &[model, count, some] : models) {
            const QVector<CheckChannel> all = checkChannels({"S", "COM1", 2, {module(9, "KV1710ADAM", {{"DS3", "cold well"}}), module(1, model, {{"DI_03", "pump 2"}})}, {}});
            QCOMPARE(shown(all.mid(2, 1)), QStringList{"0:DS3/2 analog input ℃ cold well"});
            const QStringList channels = shown(all.mid(8));
            QCOMPARE(channels.size(), count);
            for (const QString &one : some)
                QCOMPARE(channels.value(one.section(' ', 0, 0).toInt()), one.section(' ', 1));
        }
    }

    // A point of 20 ± 0.1 passes once held within its tolerance for a second: readings "ms:value"
    // (x: no value), then "passed" or not and the values kept. An input passes once both states
    // are heard: "i" and the state heard at each index as a time, then "passed" or not and its
    // changes "on@ms".
    void watchesPass()
    {
        const std::pair<QString, QString> cases[] = {
            {"0:19.95 500:20 1000:20.05", "passed 19.95 20 20.05"}, {"0:20 999:20", "- 20 20"}, // a millisecond short
            {"0:20.1 1000:19.9", "passed 20.1 19.9"}, {"0:20.11 1000:20", "- 20"}, // at the edges, just outside
            {"0:20 600:21 700:20 1600:20 1700:20", "passed 20 20 20"}, {"0:20 500:x 1000:20", "- 20"}, // outside, no value: again
            {"0:20 1000:20 1100:3", "passed 20 20"}, // passed stays passed
            {"i000", "- 0@0"}, {"i1100", "passed 1@0 0@2"}, {"i0101", "passed 0@0 1@1 0@2 1@3"}};
        for (const auto &[readings, outcome] : cases) {
            PointWatch point{.point = {20, 0.1}};
            InputWatch input;
            const bool isInput = readings.startsWith('i');
            for (int i = 1; isInput && i < readings.size(); ++i)
                input.heard(readings[i] == '1', i - 1);
            for (const QString &r : isInput ? QStringList() : readings.split(' '))
                point.heard(r.section(':', 1) == "x" ? std::nullopt : std::optional<double>(r.section(':', 1).toDouble()), r.section(':', 0, 0).toLongLong());
            QString seen = (isInput ? input.passed() : point.passed) ? "passed" : "-";
            for (double v : point.seen)
                seen += ' ' + QString::number(v);
            for (const InputWatch::Change &c : input.changes)
                seen += QStringLiteral(" %1@%2").arg(int(c.on)).arg(c.wallMs);
            QCOMPARE(seen, outcome);
        }
    }

    void journalResumedLaterWins()
    {
        QCOMPARE(journalPath("/a/pump.house.kvsite"), QStringLiteral("/a/pump.house.checkout.jsonl"));
        QCOMPARE(verdictOf("pass"), std::nullopt);
        QTemporaryDir dir;
        const QString path = dir.filePath("p.checkout.jsonl");
        QString error;
        QVERIFY2(startJournal(path, head(), &error), qPrintable(error));
        QVERIFY(!startJournal(path, head(), &error)); // never over a journal begun before
        QCOMPARE(error, path + ": a journal is there already");
        QVERIFY(appendResult(path, record(1, Verdict::Fail, "wired to DI_2, \"swap\"\nat X1"), &error));
        QVERIFY(appendResult(path, record(2), &error));
        QVERIFY(appendResult(path, record(1, Verdict::NotTested, {}, "the pump is out for repair"), &error));
        const std::optional<CheckJournal> j = readJournal(path, &error);
        QVERIFY2(j, qPrintable(error));
        QCOMPARE(j->site.modules[0].channelTags.value("DI_03"), QStringLiteral("pump 2"));
        QCOMPARE(QStringList({j->site.name, j->site.port, QString::number(j->site.code), j->sitePath, j->technician, j->toolVersion,
                              QString::number(j->startedMs), QString::number(j->records.size()), j->warning}),
                 QStringList({"Pump house", "COM3", "6", "/sites/pumphouse.kvsite", "A. Técnico", "1.2.3", "1772366400250", "3", ""}));
        const CheckRecord &first = j->records[0];
        QCOMPARE(QStringList({QString::number(first.wallMs), QString::number(first.address), first.model, first.channel,
                              checkKindText(first.kind), first.tag, verdictText(first.verdict), first.values, first.comment}),
                 QStringList({"1772366401250", "3", "KV5510ADAM", "DI_01", "digital input", "tag <1>", "Fail",
                              "on 12:00:01, off 12:00:02", "wired to DI_2, \"swap\"\nat X1"}));
        QVERIFY(j->result(3, "DI_01")->reason == "the pump is out for repair" && j->result(3, "DI_02")->verdict == Verdict::Pass
                && !j->result(4, "DI_02"));
        // Times are read back with the offset from UTC they were written at (a report made elsewhere).
        QVERIFY(writeText(path, fileText(path).replace("+00:00", "+05:30")));
        const std::optional<CheckJournal> there = readJournal(path, &error);
        QVERIFY2(there, qPrintable(error));
        QCOMPARE(QList<int>({there->utcOffsetS, there->records[2].utcOffsetS}), QList<int>({19800, 19800}));
    }

    // A damaged line is skipped and told; every whole line before and after it is kept, and a
    // result appended after a cut-off last line stands on a line of its own.
    void damagedLineSkipped()
    {
        const QString last = "line 4 is damaged and was skipped (cut off by a power cut?)";
        const struct { int line; QByteArray cut; QString warning, channels; } cases[] = { // cut: what the damaged line is cut to
            {4, "{\"time\":\"2026-", last, "DI_01 DI_02"}, {4, "{\"verdict\":\"Maybe\"}", last, "DI_01 DI_02"},
            {3, R"({"time":"noon","address":3,"channel":"DI_02","kind":"digital input","verdict":"Pass"})", "line 3 is damaged and was skipped", "DI_01 DI_03"}};
        for (const auto &[line, cut, warning, expected] : cases) {
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
            QStringList channels;
            for (const CheckRecord &r : j->records)
                channels << r.channel;
            QCOMPARE(j->warning + ": " + channels.join(' '), warning + ": " + expected);
            QVERIFY(appendResult(path, record(9), &error));
            j = readJournal(path, &error);
            QCOMPARE(j->warning + ": " + j->records.last().channel, QStringLiteral("line %1 is damaged and was skipped: DI_09").arg(line));
        }
    }

    // A head cut off, of a later format, with a site that is not one, without a start time.
    void journalRefused()
    {
        const std::pair<QByteArray, QString> cases[] = {
            {"{\"format\":1,\"journal\":\"check\n", "line 1 is not a checkout journal's head (damaged?)"},
            {"{\"format\":2,\"journal\":\"checkout\"}\n", "the journal is of format 2, a later version's; this one reads format 1"},
            {R"({"format":1,"journal":"checkout","site":{"format":1,"name":"S","port":"COM1","code":2}})", "line 1: the site in the head: line 1: modules is missing"},
            {R"({"format":1,"journal":"checkout","site":{"format":1,"name":"S","port":"COM1","code":2,"modules":[]}})", "line 1: the head has no start time (damaged?)"}};
        QTemporaryDir dir;
        const QString path = dir.filePath("j.jsonl");
        QString error;
        for (const auto &[text, why] : cases) {
            QVERIFY(writeText(path, text) && !readJournal(path, &error));
            QCOMPARE(error, path + ": " + why);
        }
        QVERIFY(!readJournal(dir.filePath("none.jsonl"), &error));
        QCOMPARE(error, dir.filePath("none.jsonl") + ": no such file");
    }

    // A disk that fills up halfway through a line leaves the journal as it was.
    void fullDiskAndVanishedFolderRefused()
    {
        QString error;
        QVERIFY(!appendResult("/dev/full", record(1), &error));
        QCOMPARE(error, "/dev/full: the result could not be written to the disk: No space left on device");
        QTemporaryDir dir;
        const QString path = dir.filePath("site/j.jsonl");
        QVERIFY(startJournal(dir.filePath("j"), head(), &error));
        const QByteArray before = fileText(dir.filePath("j"));
        rlimit limit{};
        getrlimit(RLIMIT_FSIZE, &limit);
        const rlimit small{rlim_t(before.size() + 10), limit.rlim_max};
        std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        const bool written = appendResult(dir.filePath("j"), record(1), &error);
        setrlimit(RLIMIT_FSIZE, &limit);
        QVERIFY(!written && fileText(dir.filePath("j")) == before);
        QVERIFY2(!startJournal(path, head(), &error) && error.startsWith(path + ": "), qPrintable(error));
        QVERIFY(QDir(dir.path()).mkdir("site"));
        QVERIFY(startJournal(path, head(), &error));
        QVERIFY(QDir(dir.filePath("site")).removeRecursively());
        QVERIFY(!appendResult(path, record(1), &error));
        QCOMPARE(error, path + ": the journal is gone (its folder removed or the disk taken away?)");
    }

    // The report: the header, failures and the channels not tested first, the counts, every text
    // of the journal escaped, times as the recording clock showed them; the CSV a row per channel,
    // untested ones included.
    void reportOfAJournal()
    {
        CheckJournal j = head();
        j.site.modules.append(module(4, "KV1720ADAM", {}, 5));
        j.site.modules[0].channelTags["RY_01"] = "valve <&> \"A\"";
        j.records = {record(1, Verdict::Fail, "loose <wire>"), record(2), record(3, Verdict::NotTested, {}, "no air")};
        j.records[2].wallMs += 3600000;
        j.records[2].utcOffsetS = 3600; // decided at +01:00: shown so where the report is made (UTC)
        j.records[1].wallMs -= 3600000; // the first decided is not the first line
        const QString html = checkoutReportHtml(j);
        for (const char *text : {"<td>Technician</td><td>A. Técnico</td>", "<td>Dates</td><td>2026-03-01 11:00 to 2026-03-01 14:00</td>",
                                 "<td>Port and line</td><td>COM3 at 9600,Even,8,1</td>", "<td>KV1720ADAM</td><td>4</td><td>5 (4800,Even,8,1)</td>",
                                 "<p>13 channels: 1 passed, 1 failed, 1 not tested, 10 untested.</p>", "<td>tag &lt;1&gt;</td>",
                                 "<td>valve &lt;&amp;&gt; &quot;A&quot;</td>", "<th>Witness</th>"})
            QVERIFY2(html.contains(QString::fromUtf8(text)), text);
        QVERIFY(!html.contains("<wire>") && !html.contains("<1>"));
        QCOMPARE(html.count("<td>on 12:00:01, off 12:00:02</td>"), 5); // two in the summary
        const qsizetype failures = html.indexOf("<h3>Failures</h3>"), untested = html.indexOf("<h3>Not tested and untested</h3>");
        QVERIFY(failures > 0 && failures < html.indexOf("loose &lt;wire&gt;") && html.indexOf("loose &lt;wire&gt;") < untested);
        QVERIFY(untested < html.indexOf("<td>no air</td>") && html.indexOf("<td>RY_01</td>") < html.indexOf("<h2>KV5510ADAM at address 3</h2>"));
        const QStringList csv = checkoutReportCsv(j).split('\n');
        QCOMPARE(csv.size(), 15);
        QCOMPARE(csv.mid(0, 2), QStringList({"address,model,module_tag,channel,tag,test,verdict,values,time,comment,reason",
                                             "3,KV5510ADAM,,DI_01,tag <1>,digital input,Fail,\"on 12:00:01, off 12:00:02\",2026-03-01T12:00:01.250+00:00,loose <wire>,"}));
        QCOMPARE(csv.mid(3, 1), QStringList("3,KV5510ADAM,,DI_03,tag <3>,digital input,Not tested,\"on 12:00:01, off 12:00:02\",2026-03-01T14:00:03.250+01:00,,no air"));
        QCOMPARE(csv.mid(9, 1), QStringList("3,KV5510ADAM,,RY_01,\"valve <&> \"\"A\"\"\",output,Untested,,,,"));
        QCOMPARE(csv[13], "4,KV1720ADAM,,AO,,\"analog output 4, 12, 20 mA ± 0.1\",Untested,,,,");
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
        QByteArray out;
        while (out.count('\n') < 40 && child.waitForReadyRead(10000))
            out += child.readAllStandardOutput();
        QVERIFY2(out.count('\n') >= 40, child.readAllStandardError().constData());
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        const QList<QByteArray> said = (out + child.readAllStandardOutput()).trimmed().split('\n');
        const int announced = said.last().mid(8).toInt();
        QCOMPARE(said.last(), "decided " + QByteArray::number(announced));
        const std::optional<CheckJournal> j = readJournal(path, &error);
        QVERIFY2(j && j->warning.isEmpty(), qPrintable(error));
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
