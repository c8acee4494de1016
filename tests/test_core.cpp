// The core's rules as tables of known frames and values: the CRC and every request the tool
// sends, the verdict on replies and what an accepted one says, the model table and each model's
// reads, line settings and the code table, conversions and number text, and the set.rc and tm.rc
// readers and writers with damaged files; exchange records, the rows a window's recorder keeps and
// the traffic statistics (counts per verdict, response-time percentiles from the 0.1 ms
// histogram). The frames' CRCs were checked with a table-driven CRC-16/MODBUS written apart from
// the tool's.
#include "conversions.h"
#include "cycle.h"
#include "decoders.h"
#include "linesettings.h"
#include "modbus.h"
#include "numtext.h"
#include "settingsfiles.h"
#include "traffic.h"
#include "trafficlog.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

namespace {
QByteArray hex(const char *h)
{
    return QByteArray::fromHex(h);
}

QList<bool> states(const char *bits)
{
    QList<bool> on;
    for (const char *b = bits; *b; ++b)
        on << (*b == '1');
    return on;
}

// What an accepted reply says, as one text: inputs as 1/0, registers as shown, or the parameter lines.
QString decoded(const QByteArray &request, const QByteArray &reply, Conversion conversion)
{
    const int count = std::uint8_t(request[4]) << 8 | std::uint8_t(request[5]);
    if (request == parameterReadRequest())
        return parameterLines(moduleParameters(reply));
    if (request[1] == 0x03)
        return analogTexts(reply, conversion, count).join(QLatin1Char('|'));
    QString text; // the inputs of a read 02; nothing for an echo
    for (bool on : digitalInputs(reply, request[1] == 0x02 ? count : 0))
        text += on ? QLatin1Char('1') : QLatin1Char('0');
    return text;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A model row as one line: kind, the three panels (frame, count, captions) and the tm.rc lines of
// its timers (overtime A, B, C, acquisition A, B), then its reads (function, count, the empty
// address message, digital inputs only while acquiring).
QString describe(const ModelRow &r)
{
    auto panel = [](const QString &frame, const QStringList &c) {
        return c.isEmpty() ? QStringLiteral("-") : QStringLiteral("%1%2:%3..%4").arg(frame).arg(c.size()).arg(c.first(), c.last());
    };
    QString text = QStringLiteral("%1 %2|%3|%4[%5] c%6 t%7,%8,%9,%10,%11")
                       .arg(int(r.kind)).arg(panel(r.inputFrame, r.inputCaptions), panel(r.outputFrame, r.outputCaptions))
                       .arg(r.analogFrame, r.analogCaptions.join(',')).arg(int(r.conversion))
                       .arg(r.lineOvertimeA).arg(r.lineOvertimeB).arg(r.lineOvertimeC).arg(r.lineAcquisitionA).arg(r.lineAcquisitionB);
    for (const AcquisitionCycle::Read &read : modelReads(r))
        text += QStringLiteral(" r%1:%2+%3%4%5").arg(read.function).arg(read.start).arg(read.count)
                    .arg(read.emptyAddress == AcquisitionCycle::Read::AnalogAddressMessage ? 'a' : 'd')
                    .arg(read.decodeOnlyWhileAcquiring ? "w" : "");
    return text;
}

QString lines(int address, const char *parameters, int model)
{
    return QStringLiteral("Moudle address: %1\r\nCommunication parameters: %2\r\nMoudle model: KV%3ADAM")
        .arg(address).arg(QLatin1String(parameters)).arg(model);
}

struct Exchange {
    Refusal refusal;
    double ms; // -1: nothing came back
};

QString msText(std::optional<double> ms)
{
    return ms ? QString::number(*ms, 'f', 2) : QStringLiteral("-");
}

// The statistics of a run in one comparable line.
QString summary(const TrafficStatistics &s)
{
    QString line = QStringLiteral("n%1").arg(s.requests());
    for (Refusal r : {Refusal::None, Refusal::NoReply, Refusal::BadCrc, Refusal::Short, Refusal::Long,
                      Refusal::OtherAddress, Refusal::OtherFunction, Refusal::Exception})
        if (s.count(r) > 0)
            line += QStringLiteral(" %1 %2").arg(verdictKey(r)).arg(s.count(r));
    return line + QStringLiteral(" %1% min %2 median %3 p99 %4 max %5")
                      .arg(QString::number(s.successPercent(), 'f', 1), msText(s.minMs()), msText(s.medianMs()),
                           msText(s.percentileMs(99)), msText(s.maxMs()));
}
} // namespace

class TestCore : public QObject
{
    Q_OBJECT
private slots:
    // Each request as built, its frame, and the length of the reply it expects (0: none).
    void requests()
    {
        const struct { QByteArray built, frame; int replyBytes; } cases[] = {
            {readRegistersRequest(1, 8), hex("010300000008440C"), 21}, // 1710, 1730, 1740: 8 registers
            {readRegistersRequest(1, 6), hex("010300000006C5C8"), 17}, // 7710: 6 registers
            {readRegistersRequest(1, 4), hex("0103000000044409"), 13}, // 7720: 4 registers
            {readInputsRequest(1, 8), hex("01020000000879CC"), 6}, // 5510, 5550: 8 inputs
            {readInputsRequest(1, 16), hex("01020000001079C6"), 7}, // 5530: 16 inputs
            {readInputsRequest(1, 4), hex("01020000000479C9"), 6}, // 7710, 7720: 4 inputs
            {writeCoilsRequest(1, states("1010")), hex("010F000000040105FE95"), 8}, // 5510, 77x0: coils 1 and 3 of 4
            {writeCoilsRequest(1, states("00000001")), hex("010F000000080180FF35"), 8}, // 5520: coil 8 of 8
            {writeCoilsRequest(1, states("0000000010000000")), hex("010F0000001002000123E0"), 8}, // 5540: coil 9 of 16
            {writeCoilsRequest(1, states("0000000100000000")), hex("010F0000001002800083E0"), 8}, // 5540: coil 8 of 16
            {writeRegisterRequest(1, 0, 4000), hex("010600000FA08C42"), 8}, // 1720: 4 mA
            {parameterReadRequest(), hex("00030064000345C5"), 11}, // parameter read
            {addressWriteRequest(5), hex("00060064000509C7"), 8}, // address write: 5
            {commWriteRequest(1, 6), hex("01060065000619D7"), 8}, // comm write: module 1, code 6
            {hex("010500000000CDCA"), hex("010500000000CDCA"), 0}, // function 05: not the tool's
            {hex("01020000"), hex("01020000"), 0}, // too short to say
        };
        for (const auto &c : cases) {
            QCOMPARE(c.built, c.frame);
            QCOMPARE(expectedReplyLength(c.frame), c.replyBytes);
        }
    }

    void crcRoutine()
    {
        // The published check value, low byte first; the bytes beyond lastIndex left out.
        QCOMPARE(Crc16("123456789", 8), QByteArray("123456789") + hex("374B"));
        QCOMPARE(Crc16(hex("010F000000040105555555"), 7), hex("010F000000040105FE95"));
        QCOMPARE(Crc16(QByteArray(256, '\x01'), 255).size(), 258);
        QVERIFY(crcOk(hex("01020105618B")) && !crcOk(hex("01020105618C")) && !crcOk(hex("0102")));
    }

    // The verdict on each reply to a request; what an accepted one says, as one text.
    void replies()
    {
        const QByteArray in8 = hex("01020000000879CC"), in16 = hex("01020000001079C6"), in4 = hex("01020000000479C9");
        const QByteArray regs8 = hex("010300000008440C"), params = parameterReadRequest();
        const Conversion none = Conversion::None;
        const QString ok = QStringLiteral("accepted");
        const struct { QByteArray request, reply; Conversion conversion; QString verdict, values; } cases[] = {
            {in8, hex("01020105618B"), none, ok, "10100000"}, {in16, hex("0102020580BB48"), none, ok, "1010000000000001"},
            {in16, hex("010202002179A0"), none, ok, "0000000010000100"},
            {in4, hex("010201F561CF"), none, ok, "1010"}, // the high half unread
            {regs8, hex("010310000000FD270F27102747FFFEFFFF00010630"), Conversion::Temperature, ok,
             "0.0℃|25.3℃|999.9℃|-0.0℃|-5.5℃|-5553.4℃|Not Connect|0.1℃"},
            {regs8, hex("0103100000000108000FFFFFFF04000BFF10000C98"), Conversion::Current, ok,
             "0.00mA|0.00mA|10.00mA|20.00mA|320.07mA|5.00mA|15.00mA|20.00mA"},
            {regs8, hex("01031007FF0FFFFFFF00000199033300010BB8BCA8"), Conversion::Voltage, ok,
             "5.00V|10.00V|160.04V|0.00V|1.00V|2.00V|0.00V|7.33V"},
            {hex("010300000006C5C8"), hex("01030C080008000800080008000800F60B"), Conversion::Current, ok,
             QStringList(6, "10.00mA").join('|')},
            {hex("0103000000044409"), hex("01030803E8000003E9FFFF6DCC"), Conversion::WholeDegrees, ok,
             "1000℃|0℃|Not Connect|Not Connect"},
            {params, hex("0003060001000215863FD7"), none, ok, lines(1, "9600,None,8,1", 5510)},
            {params, hex("0003060007000006C21B14"), none, ok, lines(7, "", 1730)}, // code 0
            {params, hex("000306FFFF0008FFFFAC8C"), none, ok, lines(65535, "38400,Even,8,1", 65535)},
            {hex("010F000000040105FE95"), hex("010F000000045408"), none, ok, ""}, // echoes
            {hex("010600000FA08C42"), hex("010600000FA08C42"), none, ok, ""},
            {in8, QByteArray(), none, "no reply (time-out)", ""},
            {in8, hex("0182018160"), none, "exception 1: illegal function", ""},
            {regs8, hex("01830440F3"), none, "exception 4: device failure", ""},
            {in8, hex("0182018161"), none, "short reply", ""}, // an exception with a bad CRC
            {in8, hex("0102010561"), none, "short reply", ""}, {in8, hex("01020105618B00"), none, "long reply", ""},
            {in8, hex("0202010561CF"), none, "reply from another address", ""},
            {in8, hex("01030105304B"), none, "reply to another function", ""},
            {in8, hex("01020105618C"), none, "bad CRC", ""}};
        for (const auto &c : cases) {
            const int expected = expectedReplyLength(c.request);
            const ReplyVerdict v = judgeReply(c.reply, c.request, expected);
            QCOMPARE(v.reason(), c.verdict);
            // The windows' check on hex text says the same.
            QCOMPARE(AcceptReply(HexText(c.reply), HexText(c.request), expected), v.accepted());
            QCOMPARE(v.accepted() ? decoded(c.request, c.reply, c.conversion) : QString(), c.values);
        }
    }

    void hexText()
    {
        QCOMPARE(HexText(hex("01020000000879CC")), QStringLiteral("01 02 00 00 00 08 79 CC "));
        bool ok = false;
        QCOMPARE(bytesFromHexText(QStringLiteral("FF 00 7E "), &ok), hex("FF007E"));
        QVERIFY(ok);
        for (const char *bad : {"FF 00 7E", "ff ", "0G ", "01-02 "}) {
            bytesFromHexText(QString::fromLatin1(bad), &ok);
            QVERIFY2(!ok, bad);
        }
        // Text the receive handler never makes is refused, however good its bytes.
        QVERIFY(!AcceptReply(QStringLiteral("01 02 01 05 61 8b "), QStringLiteral("01 02 00 00 00 08 79 CC "), 6));
        QVERIFY(!AcceptReply(QStringLiteral("01 02 01 05 61 8B "), QStringLiteral("01 0"), 6));
    }

    void settingsText()
    {
        for (const char *text : {"4800,N,8,1", "9600,N,8,1", "19200,N,8,1", "38400,N,8,1", "4800,E,8,1", "9600,E,8,1",
                                 "19200,E,8,1", "38400,E,8,1", "9600,O,8,1", "9600,M,8,1", "9600,S,8,1"}) {
            const std::optional<LineSettings> s = parseSettingsText(QString::fromLatin1(text));
            QVERIFY2(s && s->dataBits == 8 && s->stopBits == 1, text);
            QCOMPARE(QStringLiteral("%1,%2,8,1").arg(s->baud).arg(QLatin1Char(s->parity)), QString::fromLatin1(text));
        }
        for (const char *text : {"9600,X,8,1", "1234x,N,8,1", "+9600,N,8,1", "9600,N,9,1", "9600,N,8,3", "9600,N,8"})
            QVERIFY2(!parseSettingsText(QString::fromLatin1(text)), text);
    }

    void codeTable()
    {
        const QStringList texts{"4800,None,8,1", "9600,None,8,1", "19200,None,8,1", "38400,None,8,1",
                                "4800,Even,8,1", "9600,Even,8,1", "19200,Even,8,1", "38400,Even,8,1"};
        QCOMPARE(communicationParameterTexts(), texts);
        for (int code = 1; code <= 8; ++code) {
            QCOMPARE(communicationParameterCode(texts[code - 1]), code);
            QCOMPARE(QStringLiteral("%1,%2").arg(baudForCode(code)).arg(parityForCode(code) == 'E' ? "Even" : "None"),
                     texts[code - 1].section(',', 0, 1));
        }
        QVERIFY(baudForCode(0) == 0 && parityForCode(9) == 0);
        for (const char *text : {"9600", "9600,even,8,1", "9600,Even,8,1 ", "", "38400,Odd,8,1"})
            QCOMPARE(communicationParameterCode(QString::fromLatin1(text)), 0);
    }

    void numberText()
    {
        const QList<std::pair<int, const char *>> currents{{0, "0.00"}, {1, "0.00"}, {9, "0.01"}, {256, "0.26"},
            {4005, "4.00"}, {4015, "4.02"}, {19995, "20.00"}}; // halves to even; 19995 carries
        for (const auto &[position, text] : currents)
            QCOMPARE(outputCurrentText(position), QString::fromLatin1(text));
        for (const auto &[v, r] : QList<std::pair<double, double>>{{0.5, 0}, {1.5, 2}, {2.5, 2}, {2.6, 3}, {-1.5, -2}})
            QCOMPARE(roundHalfEven(v), r);
        struct Case { QString text; double value; bool found; };
        const QList<Case> numbers{{"300", 300, true}, {"  300", 300, true}, {"1 2", 12, true}, {"300ms", 300, true},
            {"m", 0, false}, {"", 0, false}, {"-1", -1, true}, {"2.5x", 2.5, true}, {"1.2.3", 1.2, true}, {"1e2", 100, true},
            {"12e", 12, true}, {"-", 0, false}, {"+7", 7, true}, {".5", 0.5, true}, {QString(400, '9'), 0, false}};
        for (const Case &c : numbers) {
            const LeadingNumber n = scanLeadingNumber(c.text);
            QVERIFY2(n.found == c.found && n.value == c.value, qPrintable(c.text.left(10)));
        }
    }

    // The rules that take a whole number from text; -1 where they take none.
    void wholeNumbersFromText()
    {
        using Read = int (*)(const QString &);
        const Read address = [](const QString &t) { return addressFromText(t) ? int(*addressFromText(t)) : -1; };
        const Read position = [](const QString &t) { return outputPositionFromText(t).value_or(-1); };
        // The interval: characters 12 to 16, whatever the label before them ends with.
        const Read interval = [](const QString &t) { return intervalFromLine(t); };
        // The port: position first, then rounded: 2.5 - 1 = 1.5 -> 2, 3.5 - 1 = 2.5 -> 2.
        const Read port = portIndexFromLine;
        const struct { Read read; const char *text; int value; } cases[] = {
            {address, "1", 1}, {address, "0", 0}, {address, "255", 255}, {address, "256", -1}, {address, "-1", -1},
            {address, "abc", -1}, {address, "12x", 12}, {address, "2.5", 2}, {address, " ", -1}, {address, "", -1},
            {position, "4.00", 4000}, {position, "20", 20000}, {position, "12.345", 12345}, {position, "0.5", 500},
            {position, "20.001", -1}, {position, "4.0001", -1}, {position, "-1", -1}, {position, "4.", -1},
            {position, "4,5", -1}, {position, "", -1},
            {interval, "Overtime A   300", 300}, {interval, "Overtime A 300ms", 300}, {interval, "Overtime A x    ", 0},
            {interval, "Overtime A ", 0}, {interval, "Overtime A 12", 12}, {interval, "Overtime A 0050099999", 500},
            {interval, "Overtime A 99999", 65535}, {interval, "Overtime A -500", 0}, {interval, "Overtime A 2.5  ", 2},
            {interval, "Overtime A1  300", 300},
            {port, "3", 2}, {port, "0", -1}, {port, "9", 8}, {port, "10", -1}, {port, " 2", 1}, {port, "2.5", 2},
            {port, "3.5", 2}, {port, "0.5", 0}, {port, "abc", -1}, {port, "-3", -1}};
        for (const auto &c : cases)
            QVERIFY2(c.read(QString::fromLatin1(c.text)) == c.value, c.text);
        bool clamped = false;
        intervalFromLine(QStringLiteral("Overtime A 99999"), &clamped);
        QVERIFY(clamped);
        intervalFromLine(QStringLiteral("Overtime A 65535"), &clamped);
        QVERIFY(!clamped);
    }

    // In the order of Main's list.
    void models()
    {
        const char *rows[][2] = {
            {"KV1710ADAM", "1 -|-| DS18B20 Input [DS1,DS2,DS3,DS4,DS5,DS6,DS7,DS8] c1 t1,0,0,2,0 r3:0+8a"},
            {"KV1720ADAM", "2 -|-|[] c0 t0,3,0,0,0"},
            {"KV1730ADAM", "1 -|-| Analog Input [AI_1,AI_2,AI_3,AI_4,AI_5,AI_6,AI_7,AI_8] c2 t4,0,0,5,0 r3:0+8a"},
            {"KV1740ADAM", "1 -|-| Analog Input [VI_1,VI_2,VI_3,VI_4,VI_5,VI_6,VI_7,VI_8] c3 t4,0,0,5,0 r3:0+8a"},
            {"KV5510ADAM", "0  Digital Input 8:DI_01..DI_08| Relay Output 4:RY_01..RY_04|[] c0 t6,7,0,8,0 r2:0+8dw"},
            {"KV5520ADAM", "0 -| Relay Output 8:RY_01..RY_08|[] c0 t0,9,0,0,0"},
            {"KV5530ADAM", "0  Digital Input 16:DI_01..DI_16|-|[] c0 t10,0,0,11,0 r2:0+16dw"},
            {"KV5540ADAM", "0 -| Digital Output 16:DO_01..DO_16|[] c0 t0,12,0,0,0"},
            {"KV5550ADAM", "0  Digital Input 8:DI_01..DI_08| Digital Output 8:DO_01..DO_08|[] c0 t13,14,0,15,0 r2:0+8dw"},
            {"KV7710ADAM", "3  Digital Input 4:DI_01..DI_04| Digital Output 4:DO_01..DO_04| Analog Input "
                           "[AI_1,AI_2,AI_3 ,AI_4 ,AI_5,AI_6] c2 t16,17,18,19,20 r3:0+6a r2:0+4dw"},
            {"KV7720ADAM", "3  Digital Input 4:DI_01..DI_04| Digital Output 4:DO_01..DO_04| Analog Input "
                           "[T_1,T_2,T_3 ,T_4 ] c4 t16,17,18,19,20 r3:0+4a r2:0+4dw"}};
        QCOMPARE(modelTable().size(), 11);
        for (int i = 0; i < 11; ++i) {
            const ModelRow &r = modelTable()[i];
            QCOMPARE(r.name, QString::fromLatin1(rows[i][0]));
            QVERIFY(findModel(r.name) == &r && !findModel(r.name.toLower()));
            QCOMPARE(describe(r), QString::fromUtf8(rows[i][1]));
        }
    }

    void setRc()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("set.rc"));
        const auto read = [&path] {
            const SerialChoice c = readSetRc(path);
            return c.port + '|' + c.baud + '|' + c.parity;
        };
        QCOMPARE(read(), QStringLiteral("1|9600|None")); // missing: the defaults
        const SerialChoice c{QStringLiteral("0"), QStringLiteral("1234x"), QStringLiteral("Even")}; // kept as typed
        QString error;
        QVERIFY(writeSetRc(path, c, &error));
        QCOMPARE(fileBytes(path), QByteArray("0\r\n1234x\r\nEven\r\n"));
        QCOMPARE(read(), QStringLiteral("0|1234x|Even"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("set.rc")}); // no temporary left
        for (const auto &[bytes, choice] : {std::pair{"3\n", "3|9600|None"}, {"4\r19200\r\nEven\r\nextra\r\n", "4|19200|Even"}}) {
            QVERIFY(writeFile(path, bytes));
            QCOMPARE(read(), QString::fromLatin1(choice));
        }
        // A folder where set.rc should be: read as missing, the write fails, says why and leaves it alone.
        const QString folder = dir.filePath(QStringLiteral("dir.rc"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("dir.rc")));
        QCOMPARE(readSetRc(folder).port, QStringLiteral("1"));
        QVERIFY(!writeSetRc(folder, c, &error) && !error.isEmpty() && QFileInfo(folder).isDir());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("set.rc")});
    }

    void tmRc()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("tm.rc"));
        QByteArray text;
        for (int i = 1; i <= 22; ++i) // line 7 gives 0, line 9 too much
            text += QStringLiteral("Line %1").arg(i, -6).toLatin1()
                    + QByteArray::number(i == 7 ? 0 : i == 9 ? 99999 : i * 10).rightJustified(5) + "\r\n";
        QVERIFY(writeFile(path, text));
        TimingFile t = readTmRc(path);
        QVERIFY(t.complete());
        QCOMPARE(t.intervals.size(), 20);
        QVERIFY(t.intervals[0] == 10 && t.intervals[19] == 200 && t.intervals[8] == 65535);
        QVERIFY(t.usable(1) && !t.usable(7) && !t.usable(9) && t.usable(20));
        QVERIFY(writeFile(path, "Line 1      300\r\nLine 2      500\r\n"));
        t = readTmRc(path);
        QVERIFY(!t.complete() && t.linesRead == 2 && t.intervals[1] == 500 && t.intervals[2] == 0);
        // 10 MB without a line end: one line, nothing usable.
        QVERIFY(writeFile(path, QByteArray(10 * 1024 * 1024, 'x')));
        t = readTmRc(path);
        QVERIFY(!t.complete() && t.linesRead == 1);
    }

    void lineSplitting()
    {
        QCOMPARE(splitSettingsLines("a\r\nb\rc\nd", 10), (QStringList{"a", "b", "c", "d"}));
        QCOMPARE(splitSettingsLines("a\r\n\r\nb", 10), (QStringList{"a", "", "b"}));
        QCOMPARE(splitSettingsLines("a\nb\nc", 2), (QStringList{"a", "b"}));
        QCOMPARE(splitSettingsLines(QByteArray(1000, 'y'), 1, 16).first().size(), 16);
        QCOMPARE(splitSettingsLines("\xB5", 1).first(), QString(QChar(0xB5)));
    }

    // Counts per verdict and the response times of runs, in one comparable line each.
    void statistics()
    {
        const Refusal ok = Refusal::None, none = Refusal::NoReply;
        QVector<Exchange> hundred(100, {ok, 1.0}); // and one slow one: the median and p99 stay in the first bin
        hundred.append({ok, 250.0});
        const struct { QVector<Exchange> run; const char *expected; } runs[] = {
            {{}, "n0 0.0% min - median - p99 - max -"},
            {{{none, -1}, {none, -1}}, "n2 timeout 2 0.0% min - median - p99 - max -"}, // time-outs have no times
            // Median: the 2nd of 3 lies in bin [2.0, 2.1) and reads as its upper edge; the 99th
            // percentile is the largest, whose bin edge is held to the exact maximum.
            {{{ok, 1.23}, {ok, 2.04}, {ok, 9.87}}, "n3 ok 3 100.0% min 1.23 median 2.10 p99 9.87 max 9.87"},
            // Refused replies that brought bytes count in the times; time-outs do not.
            {{{ok, 5.0}, {none, -1}, {Refusal::BadCrc, 5.05}, {Refusal::Short, 3.0}, {Refusal::Long, 6.0},
              {Refusal::OtherAddress, 4.0}, {Refusal::OtherFunction, 4.0}, {Refusal::Exception, 2.0}},
             "n8 ok 1 timeout 1 bad_crc 1 short 1 long 1 other_address 1 other_function 1 exception 1 12.5% "
             "min 2.00 median 4.10 p99 6.00 max 6.00"},
            {hundred, "n101 ok 101 100.0% min 1.00 median 1.10 p99 1.10 max 250.00"},
            // Beyond the histogram's ten seconds a reply shares the last bin; the maximum stays exact.
            {{{ok, 12000.0}, {ok, 15000.0}}, "n2 ok 2 100.0% min 12000.00 median 12000.00 p99 12000.00 max 15000.00"}};
        for (const auto &r : runs) {
            TrafficStatistics s;
            for (const Exchange &e : r.run)
                s.add(e.refusal, e.ms);
            QCOMPARE(summary(s), QString::fromUtf8(r.expected));
        }
    }

    void recordsOfAnExchange()
    {
        const QByteArray read = hex("01020000000879CC"), reply = hex("01020105618B");
        ExchangeRecord e{.timeNs = 1'000'000, .request = read, .reply = reply, .verdict = judgeReply(reply, read, 6), .responseMs = 12.5};
        const FrameRecord sent = e.sentFrame(), received = e.receivedFrame();
        QVERIFY(sent.direction == FrameRecord::Sent && sent.bytes == e.request);
        QVERIFY(received.direction == FrameRecord::Received && received.verdict.accepted());
        QCOMPARE(received.timeNs, qint64(13'500'000));
        // An exchange without a byte back is a time-out and adds no time.
        TrafficStatistics s;
        s.add(e);
        e.reply.clear();
        e.verdict = judgeReply(e.reply, e.request, 6);
        s.add(e);
        QCOMPARE(summary(s), QStringLiteral("n2 ok 1 timeout 1 50.0% min 12.50 median 12.50 p99 12.50 max 12.50"));
    }

    // A window's rows: each request, its reply with verdict and response time, bytes nobody
    // asked for as rows of their own; the bound drops the oldest rows, the statistics keep all.
    void recorderRows()
    {
        TrafficRecorder r(4);
        const QByteArray read = QByteArray::fromHex("01020000000879CC");
        r.sent(read, 1000, 10'000'000, QStringLiteral("9600,Even"));
        r.received(QByteArray::fromHex("010201"), 1003, 13'000'000);
        r.received(QByteArray::fromHex("05618B"), 1004, 14'500'000);
        r.judged(judgeReply(QByteArray::fromHex("01020105618B"), read, 6), 1040, 50'000'000);
        r.received(QByteArray::fromHex("A5A5"), 1050, 60'000'000); // nobody waits: unsolicited
        r.sent(read, 1100, 110'000'000);
        r.judged(judgeReply({}, read, 6), 1140, 150'000'000);
        QCOMPARE(int(r.rows().size()), 4);
        QCOMPARE(r.firstRow(), quint64(1));
        QCOMPARE(r.nextRow(), quint64(5));
        QStringList seen;
        for (const TrafficRow &row : r.rows())
            seen << QStringLiteral("%1 %2 %3 %4 %5 %6").arg(row.direction(), HexText(row.bytes).trimmed(), row.verdictText())
                        .arg(row.responseMs).arg(double(row.sinceFirstNs) / 1e6).arg(row.isError());
        QCOMPARE(seen, (QStringList{"RX 01 02 01 05 61 8B OK 4.5 40 0", "RX A5 A5 unsolicited -1 50 1",
                                    "TX 01 02 00 00 00 08 79 CC  -1 100 0", "RX  time-out (no byte) -1 140 1"}));
        QCOMPARE(r.rows().front().tag, QStringLiteral("9600,Even"));
        QCOMPARE(statisticsLine(r.statistics()),
                 QStringLiteral("requests 2 · OK 1 · time-out (no byte) 1 · success 50.0 % · response ms min 4.5 / median 4.5 / p99 4.5 / max 4.5"));
        QCOMPARE(trafficLogLine(QStringLiteral("KV5510ADAM"), r.rows().front()).section(QLatin1Char('\t'), 1),
                 QStringLiteral("KV5510ADAM\tRX\t01 02 01 05 61 8B\tOK"));
        r.reset();
        QVERIFY(r.rows().empty() && r.statistics().requests() == 0);
    }

    // The verdicts the recorder's rows say, all of them errors, with the names of exception codes.
    void verdictTexts()
    {
        QList<QByteArray> replies{hex("010201"), hex("01020105618B00"), withCrc(hex("02020105")), withCrc(hex("01030105")),
                                  hex("01020105618C")};
        for (char code = 0; code < 8; ++code)
            replies << withCrc(hex("0182") + code);
        QStringList texts;
        for (const QByteArray &reply : replies) {
            const TrafficRow row{.kind = TrafficRow::Reply, .verdict = judgeReply(reply, hex("01020000000879CC"), 6)};
            texts << row.verdictText() + (row.isError() ? "" : " (not an error)");
        }
        QCOMPARE(texts, (QStringList{"short", "long", "other address", "other function", "bad CRC", "exception 0: exception 0",
                                     "exception 1: illegal function", "exception 2: illegal data address",
                                     "exception 3: illegal data value", "exception 4: device failure",
                                     "exception 5: acknowledge", "exception 6: device busy", "exception 7: exception 7"}));
    }
};

QTEST_APPLESS_MAIN(TestCore)
#include "test_core.moc"
