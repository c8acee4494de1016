// Register values and slider positions as the analog panels show them.
#include "conversions.h"

#include <QTest>

class TestConversions : public QObject
{
    Q_OBJECT
private slots:
    void registerTexts_data();
    void registerTexts();
    void outputCurrent_data();
    void outputCurrent();
};

using TextRule = QString (*)(std::uint16_t);
Q_DECLARE_METATYPE(TextRule)

void TestConversions::registerTexts_data()
{
    QTest::addColumn<TextRule>("rule");
    QTest::addColumn<int>("r");
    QTest::addColumn<QString>("text");
    const TextRule t = temperatureText, c = currentText, v = voltageText;
    QTest::newRow("temperature 0") << t << 0 << QStringLiteral("0.0℃");
    QTest::newRow("temperature 253") << t << 253 << QStringLiteral("25.3℃");
    QTest::newRow("temperature 9999") << t << 9999 << QStringLiteral("999.9℃");
    QTest::newRow("temperature 10000 is minus zero") << t << 10000 << QStringLiteral("-0.0℃");
    QTest::newRow("temperature 10055") << t << 10055 << QStringLiteral("-5.5℃");
    QTest::newRow("temperature 65534") << t << 65534 << QStringLiteral("-5553.4℃");
    QTest::newRow("temperature no sensor") << t << 65535 << QStringLiteral("Not Connect");
    QTest::newRow("current 0") << c << 0 << QStringLiteral("0.00mA");
    QTest::newRow("current 1") << c << 1 << QStringLiteral("0.00mA");
    QTest::newRow("current 2048") << c << 2048 << QStringLiteral("10.00mA");
    QTest::newRow("current 4095") << c << 4095 << QStringLiteral("20.00mA");
    QTest::newRow("current 65535 over scale") << c << 65535 << QStringLiteral("320.07mA");
    QTest::newRow("voltage 0") << v << 0 << QStringLiteral("0.00V");
    QTest::newRow("voltage 2047") << v << 2047 << QStringLiteral("5.00V");
    QTest::newRow("voltage 4095") << v << 4095 << QStringLiteral("10.00V");
    QTest::newRow("voltage 65535 over scale") << v << 65535 << QStringLiteral("160.04V");
}

void TestConversions::registerTexts()
{
    QFETCH(TextRule, rule);
    QFETCH(int, r);
    QFETCH(QString, text);
    QCOMPARE(rule(std::uint16_t(r)), text);
}

void TestConversions::outputCurrent_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QString>("text");
    QTest::newRow("0") << 0 << QStringLiteral("0.00");
    QTest::newRow("1 uA") << 1 << QStringLiteral("0.00");
    QTest::newRow("9 uA rounds up") << 9 << QStringLiteral("0.01");
    QTest::newRow("256") << 256 << QStringLiteral("0.26");
    QTest::newRow("4000") << 4000 << QStringLiteral("4.00");
    QTest::newRow("4005 halfway to even") << 4005 << QStringLiteral("4.00");
    QTest::newRow("4015 halfway to even") << 4015 << QStringLiteral("4.02");
    QTest::newRow("19995 carries") << 19995 << QStringLiteral("20.00");
    QTest::newRow("20000") << 20000 << QStringLiteral("20.00");
}

void TestConversions::outputCurrent()
{
    QFETCH(int, position);
    QFETCH(QString, text);
    QCOMPARE(outputCurrentText(position), text);
}

QTEST_APPLESS_MAIN(TestConversions)
#include "test_conversions.moc"
