#include "modbus.h"
#include "numtext.h"

#include <QTest>

class TestModbus : public QObject
{
    Q_OBJECT
private slots:
    void crcFramesKnownRequests_data();
    void crcFramesKnownRequests();
    void crcIgnoresBytesBeyondLastIndex();
    void hexTextRoundTrip();
    void acceptance_data();
    void acceptance();
    void registersFromHexText();
    void leadingNumber_data();
    void leadingNumber();
    void roundsHalvesToEven();
    void addressText_data();
    void addressText();
};

void TestModbus::crcFramesKnownRequests_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("read 8 inputs") << QByteArray::fromHex("010200000008") << QByteArray::fromHex("01020000000879CC");
    QTest::newRow("read 10 registers") << QByteArray::fromHex("01030000000A") << QByteArray::fromHex("01030000000AC5CD");
    QTest::newRow("broadcast parameter read") << QByteArray::fromHex("000300640003") << QByteArray::fromHex("00030064000345C5");
    QTest::newRow("write 4 coils") << QByteArray::fromHex("010F000000040105") << QByteArray::fromHex("010F000000040105FE95");
    QTest::newRow("write 4 coils 0F") << QByteArray::fromHex("010F00000004010F") << QByteArray::fromHex("010F00000004010F7E92");
    QTest::newRow("check value") << QByteArray("123456789") << QByteArray("123456789") + QByteArray::fromHex("374B");
    QTest::newRow("single byte") << QByteArray::fromHex("00") << QByteArray::fromHex("00BF40");
    QTest::newRow("analog output 4000") << QByteArray::fromHex("010600000FA0") << QByteArray::fromHex("010600000FA08C42");
}

void TestModbus::crcFramesKnownRequests()
{
    QFETCH(QByteArray, payload);
    QFETCH(QByteArray, frame);
    const QByteArray copy = payload;
    QCOMPARE(Crc16(payload, std::uint8_t(payload.size() - 1)), frame);
    QCOMPARE(payload, copy);
    const std::uint16_t crc = crc16Of(payload.constData(), payload.size());
    QCOMPARE(char(crc & 0xFF), frame[frame.size() - 2]);
    QCOMPARE(char(crc >> 8), frame[frame.size() - 1]);
}

void TestModbus::crcIgnoresBytesBeyondLastIndex()
{
    // An eleven-element write payload of which only eight bytes go into the frame.
    QByteArray payload = QByteArray::fromHex("010F000000040105");
    payload.append(3, '\x55');
    QCOMPARE(Crc16(payload, 7), QByteArray::fromHex("010F000000040105FE95"));
    // The longest frame the routine can make.
    QCOMPARE(Crc16(QByteArray(256, '\x01'), 255).size(), 258);
}

void TestModbus::hexTextRoundTrip()
{
    QCOMPARE(HexText(QByteArray::fromHex("010A")), QStringLiteral("01 0A "));
    QCOMPARE(HexText(QByteArray::fromHex("01020000000879CC")), QStringLiteral("01 02 00 00 00 08 79 CC "));
    QCOMPARE(HexText({}), QString());
    bool ok = false;
    QCOMPARE(bytesFromHexText(QStringLiteral("FF 00 7E "), &ok), QByteArray::fromHex("FF007E"));
    QVERIFY(ok);
    for (const char *bad : {"FF 00 7E", "ff ", "0G ", "01-02 "}) {
        bytesFromHexText(QString::fromLatin1(bad), &ok);
        QVERIFY2(!ok, bad);
    }
}

void TestModbus::acceptance_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("accepted");
    const QString send = QStringLiteral("01 02 00 00 00 08 79 CC ");
    QTest::newRow("good") << QStringLiteral("01 02 01 05 61 8B ") << 6 << true;
    QTest::newRow("bad crc") << QStringLiteral("01 02 01 05 61 8C ") << 6 << false;
    QTest::newRow("one byte more") << QStringLiteral("01 02 01 05 61 8B 00 ") << 6 << false;
    QTest::newRow("one byte less") << QStringLiteral("01 02 01 05 61 ") << 6 << false;
    QTest::newRow("other address") << HexText(Crc16(QByteArray::fromHex("02020105"), 3)) << 6 << false;
    QTest::newRow("exception") << HexText(Crc16(QByteArray::fromHex("018201"), 2)) << 5 << false;
    QTest::newRow("16 inputs") << QStringLiteral("01 02 02 05 80 BB 48 ") << 7 << true;
    QTest::newRow("8 in a 16 window") << QStringLiteral("01 02 01 05 61 8B ") << 7 << false;
    QTest::newRow("empty") << QString() << 6 << false;
    QTest::newRow("lower case") << QStringLiteral("01 02 01 05 61 8b ") << 6 << false;
}

void TestModbus::acceptance()
{
    QFETCH(QString, reply);
    QFETCH(int, expected);
    QFETCH(bool, accepted);
    QCOMPARE(AcceptReply(reply, QStringLiteral("01 02 00 00 00 08 79 CC "), expected), accepted);
}

void TestModbus::registersFromHexText()
{
    const QString reply = QStringLiteral("01 03 04 27 0F FF FF ");
    QCOMPARE(registerAt(reply, 10), std::uint16_t(0x270F));
    QCOMPARE(registerAt(reply, 16), std::uint16_t(0xFFFF));
    QCOMPARE(hexDigitAt(reply, 11), 7);
    QCOMPARE(hexDigitAt(reply, 3), -1);
    QCOMPARE(hexDigitAt(reply, 100), -1);
}

void TestModbus::leadingNumber_data()
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

void TestModbus::leadingNumber()
{
    QFETCH(QString, text);
    QFETCH(double, value);
    QFETCH(bool, found);
    const LeadingNumber n = scanLeadingNumber(text);
    QCOMPARE(n.found, found);
    QCOMPARE(n.value, value);
}

void TestModbus::roundsHalvesToEven()
{
    QCOMPARE(roundHalfEven(0.5), 0.0);
    QCOMPARE(roundHalfEven(1.5), 2.0);
    QCOMPARE(roundHalfEven(2.5), 2.0);
    QCOMPARE(roundHalfEven(2.6), 3.0);
    QCOMPARE(roundHalfEven(-1.5), -2.0);
}

void TestModbus::addressText_data()
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

void TestModbus::addressText()
{
    QFETCH(QString, text);
    QFETCH(int, address);
    const auto a = addressFromText(text);
    QCOMPARE(a ? int(*a) : -1, address);
}

QTEST_APPLESS_MAIN(TestModbus)
#include "test_modbus.moc"
