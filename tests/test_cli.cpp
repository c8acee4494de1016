// korvant-cli's plain functions: the command line as tables of cases, the time-out rule, and the
// lines it prints for replies. No port, no process.
#include "commandline.h"
#include "conversions.h"
#include "report.h"

#include <QTest>

namespace {

// What a parsed command line holds, in one comparable line.
QString summary(const ParsedCommandLine &p)
{
    if (!p.error.isEmpty())
        return QStringLiteral("error: ") + p.error;
    const CliOptions &o = p.options;
    if (o.help)
        return QStringLiteral("help");
    static const char *names[] = {"none", "scan", "read", "write", "set-address", "set-comm", "poll", "survey"};
    QString s = QString::fromLatin1(names[int(o.command)]);
    s += o.model ? QLatin1Char(' ') + o.model->name : QString();
    s += o.argument.isEmpty() ? QString() : QLatin1Char(' ') + o.argument;
    s += QStringLiteral(" %1 %2 a%3 t%4").arg(o.port, settingsText(o.line)).arg(o.address).arg(o.timeoutMs);
    s += o.quiet ? QStringLiteral(" quiet") : QString();
    if (o.on) {
        QStringList on;
        for (int n : *o.on)
            on << QString::number(n);
        s += QStringLiteral(" on=") + on.join(QLatin1Char(','));
    }
    s += o.outputPosition ? QStringLiteral(" ma=%1").arg(*o.outputPosition) : QString();
    s += o.json ? QStringLiteral(" json") : QString();
    if (o.command == Command::Poll)
        s += QStringLiteral(" period=%1 count=%2").arg(o.periodMs).arg(o.count);
    if (o.command == Command::Survey)
        s += QStringLiteral(" %1..%2").arg(o.from).arg(o.to);
    return s;
}

} // namespace

class TestCli : public QObject
{
    Q_OBJECT
private slots:
    // The arguments after the program's name, split at blanks, and what they parse to.
    void commandLine()
    {
        const std::pair<const char *, const char *> cases[] = {
            {"scan", "scan COM1 9600,N,8,1 a1 t0"},
            {"read KV5510ADAM --port /dev/ttyUSB0 --address 3", "read KV5510ADAM /dev/ttyUSB0 9600,N,8,1 a3 t0"},
            {"--baud 19200 --parity Even read kv1730adam --quiet", "read KV1730ADAM COM1 19200,E,8,1 a1 t0 quiet"},
            {"read 7710 --timeout=250 --parity=o", "read KV7710ADAM COM1 9600,O,8,1 a1 t250"},
            {"read nonsense --help", "help"},
            {"write KV5550ADAM --on 1,3", "write KV5550ADAM COM1 9600,N,8,1 a1 t0 on=1,3"},
            {"write KV5510ADAM --on none", "write KV5510ADAM COM1 9600,N,8,1 a1 t0 on="},
            {"write KV1720ADAM --ma 4.00", "write KV1720ADAM COM1 9600,N,8,1 a1 t0 ma=4000"},
            {"set-address 5", "set-address 5 COM1 9600,N,8,1 a1 t0"},
            {"set-comm 19200,Even,8,1 --address 5", "set-comm 19200,Even,8,1 COM1 9600,N,8,1 a5 t0"},
            {"poll 5510", "poll KV5510ADAM COM1 9600,N,8,1 a1 t0 period=500 count=0"},
            {"--json poll KV1730ADAM --period 100 --count 7",
             "poll KV1730ADAM COM1 9600,N,8,1 a1 t0 json period=100 count=7"},
            {"survey", "survey COM1 9600,N,8,1 a1 t0 1..254"},
            {"survey --from 3 --to 200", "survey COM1 9600,N,8,1 a1 t0 3..200"},
            {"read 5530 --address 255", "read KV5530ADAM COM1 9600,N,8,1 a255 t0"},
            {"poll 5540", "error: KV5540ADAM has no inputs to read"},
            {"poll 5510 --period 0", "error: period \"0\" is not 1..3600000 ms"},
            {"read 5510 --count 3", "error: --period and --count belong to poll"},
            {"scan --from 3", "error: --from and --to belong to survey"},
            {"survey --from 0", "error: address \"0\" is not 1..255"},
            {"survey --from 9 --to 8", "error: --from 9 lies above --to 8"}, {"--port COM2", "error: no subcommand given"},
            {"reed", "error: unknown subcommand \"reed\""}, {"scan --bogus", "error: Unknown option 'bogus'."},
            {"read", "error: read takes one argument"}, {"scan 1", "error: scan takes no argument"},
            {"read KV9999ADAM", "error: unknown model \"KV9999ADAM\""},
            {"read KV1720ADAM", "error: KV1720ADAM has no inputs to read"},
            {"scan --baud 96OO", "error: baud rate \"96OO\" is not a whole number above 0"},
            {"scan --parity X", "error: parity \"X\" is not None, Even or Odd"},
            {"read 5510 --address 256", "error: address \"256\" is not 0..255"},
            {"read 5510 --address +1", "error: address \"+1\" is not 0..255"},
            {"scan --timeout 0", "error: time-out \"0\" is not 1..60000 ms"},
            {"read 5510 --on 1", "error: --on and --ma belong to write"},
            {"write 5510", "error: KV5510ADAM has digital outputs: write them with --on LIST"},
            {"write 5510 --on 1,5", "error: --on \"1,5\" is not a list of outputs 1..4"},
            {"write 5540 --on 0", "error: --on \"0\" is not a list of outputs 1..16"},
            {"write 5530 --on 1", "error: KV5530ADAM has no outputs"},
            {"write 1720 --on 1", "error: KV1720ADAM has an analog output: write it with --ma MA"},
            {"write 1720 --ma 20.001", "error: current \"20.001\" is not 0 to 20 mA with at most three decimals"},
            {"set-address 256", "error: new address \"256\" is not 0..255"},
            {"set-comm 9600,even,8,1", "error: \"9600,even,8,1\" is not one of the eight communication parameters"},
        };
        for (const auto &[args, parsed] : cases) {
            const QStringList argv = QString::fromLatin1(args).split(QLatin1Char(' '));
            QCOMPARE(summary(parseCommandLine(QStringList{QStringLiteral("korvant-cli")} + argv)), QString::fromUtf8(parsed));
        }
    }

    void helpNamesEverySubcommand()
    {
        for (const char *sub :
             {"scan", "read MODEL", "write MODEL", "set-address NEW", "set-comm TEXT", "poll MODEL", "survey"})
            QVERIFY2(helpText().contains(QLatin1String("\n  ") + QLatin1String(sub) + QLatin1Char(' ')), sub);
    }

    void comPorts()
    {
        for (const auto &[port, number] : {std::pair{"COM1", 1}, {"com9", 9}, {"COM0", 0}, {"COM10", 0}, {"/dev/ttyUSB0", 0}})
            QCOMPARE(comPortNumber(QString::fromLatin1(port)), number);
    }

    // (8 + reply) bytes of 10 bits (11 with parity), rounded up, plus the 50 ms margin.
    void defaultTimeout()
    {
        const struct { int baud; char parity; int replyBytes, ms; } cases[] = {
            {9600, 'N', 21, 31 + 50}, {4800, 'E', 11, 44 + 50}, {38400, 'N', 8, 5 + 50}};
        for (const auto &c : cases)
            QCOMPARE(defaultTimeoutMs(LineSettings{c.baud, c.parity, 8, 1}, 8, c.replyBytes), c.ms);
    }

    // The values themselves are the core's (test_core); here the lines and which read they follow.
    // Inputs 9..16 come from the second data byte (the captions' padding blanks are left out of
    // the lines too: test_e2e_cli reads a KV7720ADAM).
    void channelLines()
    {
        const ModelRow *row = findModel(QStringLiteral("KV5530ADAM"));
        const QByteArray reply = QByteArray::fromHex("01020200800000");
        QStringList got;
        for (const ChannelValue &v : readChannels(*row, modelReads(*row).first(), reply))
            got << channelLine(v);
        QCOMPARE(got.join(QLatin1Char('|')),
                 QStringLiteral("DI_01: OFF|DI_02: OFF|DI_03: OFF|DI_04: OFF|DI_05: OFF|DI_06: OFF|DI_07: OFF|DI_08: OFF|"
                                "DI_09: OFF|DI_10: OFF|DI_11: OFF|DI_12: OFF|DI_13: OFF|DI_14: OFF|DI_15: OFF|DI_16: ON"));
    }

    void pollLines()
    {
        const ReplyVerdict ok, noReply{Refusal::NoReply};
        const QVector<ChannelValue> channels{{"DI_01", "ON"}, {"DI_02", "OFF"}};
        QCOMPARE(exchangeLine("12:00:01.250", ok, 12.3456, channels),
                 QStringLiteral("12:00:01.250  accepted  12.35 ms  DI_01: ON, DI_02: OFF"));
        QCOMPARE(exchangeLine("12:00:01.750", noReply, -1, {}), QStringLiteral("12:00:01.750  no reply (time-out)  -"));
        QCOMPARE(jsonLine(exchangeJson(3, "KV5510ADAM", ok, 12.3456, channels).last()),
                 QStringLiteral(R"({"address":3,"channel":"DI_02","model":"KV5510ADAM","response_ms":12.346,"value":"OFF","verdict":"ok"})"));
        QCOMPARE(jsonLine(exchangeJson(3, "KV5510ADAM", noReply, -1, {}).first()),
                 QStringLiteral(R"({"address":3,"model":"KV5510ADAM","response_ms":null,"verdict":"timeout"})"));
    }

    void statisticsReport()
    {
        TrafficStatistics s;
        s.add(Refusal::None, 12.0);
        s.add(Refusal::BadCrc, 14.0);
        s.add(Refusal::NoReply, -1);
        QCOMPARE(statisticsLines(s), (QStringList{
            "requests 3  ok 1  timeout 1  bad_crc 1  short 0  long 0  other_address 0  other_function 0  exception 0",
            "success 33.3%", "response ms  min 12.00  median 12.10  p99 14.00  max 14.00"}));
        QCOMPARE(jsonLine(statisticsJson(s)),
                 QStringLiteral(R"({"bad_crc":1,"exception":0,"long":0,"ok":1,"other_address":0,"other_function":0,"requests":3,)"
                                R"("response_ms_max":14,"response_ms_median":12.1,"response_ms_min":12,"response_ms_p99":14,)"
                                R"("short":0,"success_pct":33.3,"timeout":1})"));
        QCOMPARE(statisticsLines(TrafficStatistics()).last(), QStringLiteral("response ms  -"));
    }

    void foundModuleLine()
    {
        const LineSettings line{19200, 'E'};
        QCOMPARE(foundLine({{7, 7, 5550}, line}), QStringLiteral("address 7  code 7  baud 19200  parity Even  model KV5550ADAM"));
        QCOMPARE(jsonLine(foundJson({{7, 7, 5550}, line})),
                 QStringLiteral(R"({"address":7,"baud":19200,"code":7,"model":"KV5550ADAM","parity":"Even"})"));
        QCOMPARE(surveyLine({12, 2, 5530}), QStringLiteral("address 12  code 2  model KV5530ADAM"));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "test_cli.moc"
