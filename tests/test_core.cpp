// The core's rules as tables of known frames and values: the CRC and every request the tool
// sends, the verdict on replies and what an accepted one says, line settings and the code table,
// the output-current text and number text. The frames' CRCs were checked with a table-driven
// CRC-16/MODBUS written apart from the tool's.
#include "conversions.h"
#include "decoders.h"
#include "linesettings.h"
#include "modbus.h"
#include "numtext.h"

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

QString lines(int address, const char *parameters, int model)
{
    return QStringLiteral("Moudle address: %1\r\nCommunication parameters: %2\r\nMoudle model: KV%3ADAM")
        .arg(address).arg(QLatin1String(parameters)).arg(model);
}
} // namespace
Q_DECLARE_METATYPE(Conversion)

class TestCore : public QObject
{
    Q_OBJECT
private slots:
    void requests_data()
    {
        QTest::addColumn<QByteArray>("built");
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("replyBytes");
        QTest::newRow("1710, 1730, 1740: 8 registers") << readRegistersRequest(1, 8) << hex("010300000008440C") << 21;
        QTest::newRow("7710: 6 registers") << readRegistersRequest(1, 6) << hex("010300000006C5C8") << 17;
        QTest::newRow("7720: 4 registers") << readRegistersRequest(1, 4) << hex("0103000000044409") << 13;
        QTest::newRow("5510, 5550: 8 inputs") << readInputsRequest(1, 8) << hex("01020000000879CC") << 6;
        QTest::newRow("5530: 16 inputs") << readInputsRequest(1, 16) << hex("01020000001079C6") << 7;
        QTest::newRow("7710, 7720: 4 inputs") << readInputsRequest(1, 4) << hex("01020000000479C9") << 6;
        QTest::newRow("5510, 77x0: coils 1 and 3 of 4") << writeCoilsRequest(1, states("1010"))
                                                        << hex("010F000000040105FE95") << 8;
        QTest::newRow("5520: coil 8 of 8") << writeCoilsRequest(1, states("00000001")) << hex("010F000000080180FF35") << 8;
        QTest::newRow("5540: coil 9 of 16") << writeCoilsRequest(1, states("0000000010000000"))
                                            << hex("010F0000001002000123E0") << 8;
        QTest::newRow("5540: coil 8 of 16") << writeCoilsRequest(1, states("0000000100000000"))
                                            << hex("010F0000001002800083E0") << 8;
        QTest::newRow("1720: 4 mA") << writeRegisterRequest(1, 0, 4000) << hex("010600000FA08C42") << 8;
        QTest::newRow("parameter read") << parameterReadRequest() << hex("00030064000345C5") << 11;
        QTest::newRow("address write: 5") << addressWriteRequest(5) << hex("00060064000509C7") << 8;
        QTest::newRow("comm write: module 1, code 6") << commWriteRequest(1, 6) << hex("01060065000619D7") << 8;
        QTest::newRow("function 05: not the tool's") << hex("010500000000CDCA") << hex("010500000000CDCA") << 0;
        QTest::newRow("too short to say") << hex("01020000") << hex("01020000") << 0;
    }

    void requests()
    {
        QFETCH(QByteArray, built);
        QFETCH(QByteArray, frame);
        QFETCH(int, replyBytes);
        QCOMPARE(built, frame);
        QCOMPARE(expectedReplyLength(frame), replyBytes);
    }

    void crcRoutine()
    {
        // The published check value, low byte first; one byte; the bytes beyond lastIndex left out.
        QCOMPARE(Crc16("123456789", 8), QByteArray("123456789") + hex("374B"));
        QCOMPARE(Crc16(hex("00"), 0), hex("00BF40"));
        QCOMPARE(Crc16(hex("010F000000040105555555"), 7), hex("010F000000040105FE95"));
        QCOMPARE(Crc16(QByteArray(256, '\x01'), 255).size(), 258);
        QVERIFY(crcOk(hex("01020105618B")) && !crcOk(hex("01020105618C")) && !crcOk(hex("0102")));
    }

    void replies_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<Conversion>("conversion");
        QTest::addColumn<QString>("verdict");
        QTest::addColumn<QString>("values");
        const QByteArray in8 = hex("01020000000879CC"), in16 = hex("01020000001079C6"), in4 = hex("01020000000479C9");
        const QByteArray regs8 = hex("010300000008440C"), params = parameterReadRequest();
        const Conversion none = Conversion::None;
        const QString ok = QStringLiteral("accepted");
        QTest::newRow("8 inputs: 1 and 3") << in8 << hex("01020105618B") << none << ok << "10100000";
        QTest::newRow("16 inputs: 1, 3, 16") << in16 << hex("0102020580BB48") << none << ok << "1010000000000001";
        QTest::newRow("16 inputs: 9 and 14") << in16 << hex("010202002179A0") << none << ok << "0000000010000100";
        QTest::newRow("4 inputs: high half unread") << in4 << hex("010201F561CF") << none << ok << "1010";
        QTest::newRow("temperatures") << regs8 << hex("010310000000FD270F27102747FFFEFFFF00010630") << Conversion::Temperature
                                      << ok << "0.0℃|25.3℃|999.9℃|-0.0℃|-5.5℃|-5553.4℃|Not Connect|0.1℃";
        QTest::newRow("currents") << regs8 << hex("0103100000000108000FFFFFFF04000BFF10000C98") << Conversion::Current
                                  << ok << "0.00mA|0.00mA|10.00mA|20.00mA|320.07mA|5.00mA|15.00mA|20.00mA";
        QTest::newRow("voltages") << regs8 << hex("01031007FF0FFFFFFF00000199033300010BB8BCA8") << Conversion::Voltage
                                  << ok << "5.00V|10.00V|160.04V|0.00V|1.00V|2.00V|0.00V|7.33V";
        QTest::newRow("7710: 6 currents") << hex("010300000006C5C8") << hex("01030C080008000800080008000800F60B")
                                          << Conversion::Current << ok << QStringList(6, "10.00mA").join('|');
        QTest::newRow("7720: whole degrees") << hex("0103000000044409") << hex("01030803E8000003E9FFFF6DCC")
                                             << Conversion::WholeDegrees << ok << "1000℃|0℃|Not Connect|Not Connect";
        QTest::newRow("parameters") << params << hex("0003060001000215863FD7") << none << ok << lines(1, "9600,None,8,1", 5510);
        QTest::newRow("parameters: code 0") << params << hex("0003060007000006C21B14") << none << ok << lines(7, "", 1730);
        QTest::newRow("parameters: largest") << params << hex("000306FFFF0008FFFFAC8C") << none << ok
                                             << lines(65535, "38400,Even,8,1", 65535);
        QTest::newRow("coil write echo") << hex("010F000000040105FE95") << hex("010F000000045408") << none << ok << "";
        QTest::newRow("register write echo") << hex("010600000FA08C42") << hex("010600000FA08C42") << none << ok << "";
        QTest::newRow("no reply") << in8 << QByteArray() << none << "no reply (time-out)" << "";
        QTest::newRow("exception 1") << in8 << hex("0182018160") << none << "exception 1: illegal function" << "";
        QTest::newRow("exception 4") << regs8 << hex("01830440F3") << none << "exception 4: device failure" << "";
        QTest::newRow("exception, bad CRC") << in8 << hex("0182018161") << none << "short reply" << "";
        QTest::newRow("short") << in8 << hex("0102010561") << none << "short reply" << "";
        QTest::newRow("long") << in8 << hex("01020105618B00") << none << "long reply" << "";
        QTest::newRow("other address") << in8 << hex("0202010561CF") << none << "reply from another address" << "";
        QTest::newRow("other function") << in8 << hex("01030105304B") << none << "reply to another function" << "";
        QTest::newRow("bad CRC") << in8 << hex("01020105618C") << none << "bad CRC" << "";
    }

    void replies()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        QFETCH(Conversion, conversion);
        QFETCH(QString, verdict);
        QFETCH(QString, values);
        const int expected = expectedReplyLength(request);
        const ReplyVerdict v = judgeReply(reply, request, expected);
        QCOMPARE(v.reason(), verdict);
        // The windows' check on hex text says the same.
        QCOMPARE(AcceptReply(HexText(reply), HexText(request), expected), v.accepted());
        if (v.accepted())
            QCOMPARE(decoded(request, reply, conversion), values);
    }

    void exceptionNames()
    {
        const QStringList names{"exception 0", "illegal function", "illegal data address", "illegal data value",
                                "device failure", "acknowledge", "device busy", "exception 7"};
        for (int code = 0; code < names.size(); ++code)
            QCOMPARE(exceptionName(std::uint8_t(code)), names[code]);
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

    void settingsText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("baud"); // 0: refused
        QTest::addColumn<QString>("parity");
        for (const char *text : {"4800,N,8,1", "9600,N,8,1", "19200,N,8,1", "38400,N,8,1", "4800,E,8,1", "9600,E,8,1",
                                 "19200,E,8,1", "38400,E,8,1", "9600,O,8,1", "9600,M,8,1", "9600,S,8,1"}) {
            const QStringList f = QString::fromLatin1(text).split(',');
            QTest::newRow(text) << QString::fromLatin1(text) << f[0].toInt() << f[1];
        }
        for (const char *text : {"9600,X,8,1", "1234x,N,8,1", "+9600,N,8,1", "9600,N,9,1", "9600,N,8,3", "9600,N,8"})
            QTest::newRow(text) << QString::fromLatin1(text) << 0 << QString();
    }

    void settingsText()
    {
        QFETCH(QString, text);
        QFETCH(int, baud);
        QFETCH(QString, parity);
        const std::optional<LineSettings> s = parseSettingsText(text);
        QCOMPARE(bool(s), baud != 0);
        if (s) {
            QCOMPARE(s->baud, baud);
            QCOMPARE(QString(QLatin1Char(s->parity)), parity);
            QVERIFY(s->dataBits == 8 && s->stopBits == 1);
        }
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

    void outputCurrent_data()
    {
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("text");
        QTest::newRow("0") << 0 << QStringLiteral("0.00");
        QTest::newRow("1 uA") << 1 << QStringLiteral("0.00");
        QTest::newRow("9 uA rounds up") << 9 << QStringLiteral("0.01");
        QTest::newRow("256") << 256 << QStringLiteral("0.26");
        QTest::newRow("4005 halfway to even") << 4005 << QStringLiteral("4.00");
        QTest::newRow("4015 halfway to even") << 4015 << QStringLiteral("4.02");
        QTest::newRow("19995 carries") << 19995 << QStringLiteral("20.00");
    }

    void outputCurrent()
    {
        QFETCH(int, position);
        QFETCH(QString, text);
        QCOMPARE(outputCurrentText(position), text);
    }

    void outputPositionOfText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("position"); // -1: no position
        QTest::newRow("4.00") << "4.00" << 4000;
        QTest::newRow("whole") << "20" << 20000;
        QTest::newRow("thousandths") << "12.345" << 12345;
        QTest::newRow("one decimal") << "0.5" << 500;
        QTest::newRow("above full scale") << "20.001" << -1;
        QTest::newRow("four decimals") << "4.0001" << -1;
        QTest::newRow("sign") << "-1" << -1;
        QTest::newRow("bare point") << "4." << -1;
        QTest::newRow("comma") << "4,5" << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void outputPositionOfText()
    {
        QFETCH(QString, text);
        QFETCH(int, position);
        QCOMPARE(outputPositionFromText(text).value_or(-1), position);
    }

    void leadingNumber_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("found");
        QTest::newRow("plain") << "300" << 300.0 << true;
        QTest::newRow("blanks") << "  300" << 300.0 << true;
        QTest::newRow("blank inside") << "1 2" << 12.0 << true;
        QTest::newRow("unit after") << "300ms" << 300.0 << true;
        QTest::newRow("letter only") << "m" << 0.0 << false;
        QTest::newRow("empty") << "" << 0.0 << false;
        QTest::newRow("negative") << "-1" << -1.0 << true;
        QTest::newRow("decimal") << "2.5x" << 2.5 << true;
        QTest::newRow("second point stops") << "1.2.3" << 1.2 << true;
        QTest::newRow("exponent") << "1e2" << 100.0 << true;
        QTest::newRow("dangling exponent") << "12e" << 12.0 << true;
        QTest::newRow("sign only") << "-" << 0.0 << false;
        QTest::newRow("plus sign") << "+7" << 7.0 << true;
        QTest::newRow("leading point") << ".5" << 0.5 << true;
        QTest::newRow("huge") << QString(400, QLatin1Char('9')) << 0.0 << false;
    }

    void leadingNumber()
    {
        QFETCH(QString, text);
        QFETCH(double, value);
        QFETCH(bool, found);
        const LeadingNumber n = scanLeadingNumber(text);
        QCOMPARE(n.found, found);
        QCOMPARE(n.value, value);
    }

    void roundsHalvesToEven()
    {
        QCOMPARE(roundHalfEven(0.5), 0.0);
        QCOMPARE(roundHalfEven(1.5), 2.0);
        QCOMPARE(roundHalfEven(2.5), 2.0);
        QCOMPARE(roundHalfEven(2.6), 3.0);
        QCOMPARE(roundHalfEven(-1.5), -2.0);
    }

    void addressText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address"); // -1: no request
        QTest::newRow("one") << "1" << 1;
        QTest::newRow("zero") << "0" << 0;
        QTest::newRow("255") << "255" << 255;
        QTest::newRow("256") << "256" << -1;
        QTest::newRow("minus one") << "-1" << -1;
        QTest::newRow("letters") << "abc" << -1;
        QTest::newRow("trailing letter") << "12x" << 12;
        QTest::newRow("half") << "2.5" << 2;
        QTest::newRow("blank") << " " << -1;
        QTest::newRow("empty") << "" << -1;
    }

    void addressText()
    {
        QFETCH(QString, text);
        QFETCH(int, address);
        const auto a = addressFromText(text);
        QCOMPARE(a ? int(*a) : -1, address);
    }
};

QTEST_APPLESS_MAIN(TestCore)
#include "test_core.moc"
