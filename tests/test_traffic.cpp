// Exchange records and traffic statistics: counts per verdict and response-time percentiles
// from the 0.1 ms histogram, as a table of runs.
#include "traffic.h"
#include "trafficlog.h"

#include <QTest>

namespace {

struct Exchange {
    Refusal refusal;
    double ms; // -1: nothing came back
};

QString text(std::optional<double> ms)
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
                      .arg(QString::number(s.successPercent(), 'f', 1), text(s.minMs()), text(s.medianMs()),
                           text(s.percentileMs(99)), text(s.maxMs()));
}

} // namespace

Q_DECLARE_METATYPE(QVector<Exchange>)

class TestTraffic : public QObject
{
    Q_OBJECT
private slots:
    void statistics_data()
    {
        QTest::addColumn<QVector<Exchange>>("run");
        QTest::addColumn<QString>("expected");
        QTest::newRow("nothing") << QVector<Exchange>{} << "n0 0.0% min - median - p99 - max -";
        QTest::newRow("time-outs only: no times") << QVector<Exchange>{{Refusal::NoReply, -1}, {Refusal::NoReply, -1}}
                                                  << "n2 timeout 2 0.0% min - median - p99 - max -";
        // Median: the 2nd of 3 lies in bin [2.0, 2.1) and reads as its upper edge; the 99th
        // percentile is the largest, whose bin edge is held to the exact maximum.
        QTest::newRow("three replies") << QVector<Exchange>{{Refusal::None, 1.23}, {Refusal::None, 2.04}, {Refusal::None, 9.87}}
                                       << "n3 ok 3 100.0% min 1.23 median 2.10 p99 9.87 max 9.87";
        // Refused replies that brought bytes count in the times; time-outs do not.
        QTest::newRow("every verdict")
            << QVector<Exchange>{{Refusal::None, 5.0}, {Refusal::NoReply, -1}, {Refusal::BadCrc, 5.05},
                                 {Refusal::Short, 3.0}, {Refusal::Long, 6.0}, {Refusal::OtherAddress, 4.0},
                                 {Refusal::OtherFunction, 4.0}, {Refusal::Exception, 2.0}}
            << "n8 ok 1 timeout 1 bad_crc 1 short 1 long 1 other_address 1 other_function 1 exception 1 12.5% "
               "min 2.00 median 4.10 p99 6.00 max 6.00";
        // 100 replies at 1 ms and one slow one: the median and p99 stay in the first bin.
        QVector<Exchange> hundred(100, {Refusal::None, 1.0});
        hundred.append({Refusal::None, 250.0});
        QTest::newRow("one slow reply in 101") << hundred << "n101 ok 101 100.0% min 1.00 median 1.10 p99 1.10 max 250.00";
        // Beyond the histogram's ten seconds a reply shares the last bin; the maximum stays exact.
        QTest::newRow("beyond the last bin") << QVector<Exchange>{{Refusal::None, 12000.0}, {Refusal::None, 15000.0}}
                                             << "n2 ok 2 100.0% min 12000.00 median 12000.00 p99 12000.00 max 15000.00";
    }

    void statistics()
    {
        QFETCH(QVector<Exchange>, run);
        QFETCH(QString, expected);
        TrafficStatistics s;
        for (const Exchange &e : run)
            s.add(e.refusal, e.ms);
        QCOMPARE(summary(s), expected);
    }

    void recordsOfAnExchange()
    {
        ExchangeRecord e;
        e.timeNs = 1'000'000;
        e.request = QByteArray::fromHex("01020000000879CC");
        e.reply = QByteArray::fromHex("01020105618B");
        e.verdict = judgeReply(e.reply, e.request, expectedReplyLength(e.request));
        e.responseMs = 12.5;
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

    void verdictTexts()
    {
        const QByteArray read = QByteArray::fromHex("01020000000879CC");
        const std::pair<QByteArray, const char *> cases[] = {{QByteArray::fromHex("010201"), "short"},
            {QByteArray::fromHex("01020105618B00"), "long"}, {withCrc(QByteArray::fromHex("02020105")), "other address"},
            {withCrc(QByteArray::fromHex("01030105")), "other function"}, {QByteArray::fromHex("01020105618C"), "bad CRC"},
            {withCrc(QByteArray::fromHex("018202")), "exception 2: illegal data address"}};
        for (const auto &[reply, text] : cases) {
            TrafficRecorder r;
            r.sent(read, 0, 0);
            r.received(reply, 0, 1);
            r.judged(judgeReply(reply, read, 6), 0, 2);
            QCOMPARE(r.rows().back().verdictText(), QString::fromUtf8(text));
            QVERIFY(r.rows().back().isError());
        }
    }
};

QTEST_APPLESS_MAIN(TestTraffic)
#include "test_traffic.moc"
