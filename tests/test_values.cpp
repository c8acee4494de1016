// Values as data: the rows an accepted reply makes, their CSV lines, the log files (rotation, a
// short write, a removed file, a pipe), and the trend's series with its reduction (a trend fed
// from a window's reads is test_windows').
#include "cycle.h"
#include "trafficlogfile.h"
#include "trend.h"
#include "valuelog.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <functional>
#include <ctime>
#include <string_view>

#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// The raw column of each line of a log file; "header" for the header line.
QStringList rawColumn(const QString &path)
{
    QFile f(path);
    QStringList raw;
    for (const QString &line : f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts) : QStringList())
        raw << (line == kValueCsvHeader ? QStringLiteral("header") : line.section(QLatin1Char(','), 6, 6));
    return raw;
}

using namespace std::literals;

// 2026-03-01 12:00:00.250 UTC
constexpr qint64 kNoon = 1772366400250;
} // namespace

class TestValues : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        // A fixed zone half an hour off the hour, east of UTC, so the offset's sign and minutes show.
        qputenv("TZ", "<+0530>-5:30");
        tzset();
    }

    // Per model: the reply, the window's caption, the first lines it makes.
    void rowsAndLines()
    {
        const QString t = QStringLiteral("2026-03-01T17:30:00.250+05:30,");
        const QString bench = QStringLiteral("\"Bench \"\"A\"\", rack 2\",7,");
        const struct { const char *model; QByteArray reply; QString window; QStringList lines; } cases[] = {
            // Registers 2048 (10.00 mA), 4095, 0.
            {"KV1730ADAM", QByteArray::fromHex("0103060800 0FFF 0000 0000"), "KV1730ADAM",
             {t + "KV1730ADAM,7,AI_1,10,mA,2048,10.00mA", t + "KV1730ADAM,7,AI_2,20,mA,4095,20.00mA", t + "KV1730ADAM,7,AI_3,0,mA,0,0.00mA"}},
            // 253 tenths, 10012 below zero, 65535 no sensor: an empty value, the raw register kept.
            {"KV1710ADAM", QByteArray::fromHex("01030600FD271CFFFF0000"), "KV1710ADAM",
             {t + "KV1710ADAM,7,DS1,25.3,℃,253,25.3℃", t + "KV1710ADAM,7,DS2,-1.2,℃,10012,-1.2℃", t + "KV1710ADAM,7,DS3,,℃,65535,Not Connect"}},
            // Whole degrees, captions trimmed.
            {"KV7720ADAM", QByteArray::fromHex("010306001903E903E8"), "KV7720ADAM",
             {t + "KV7720ADAM,7,T_1,25,℃,25,25℃", t + "KV7720ADAM,7,T_2,,℃,1001,Not Connect", t + "KV7720ADAM,7,T_3,1000,℃,1000,1000℃"}},
            // Volts, a window named on two lines quoted; a caption with a comma and a quote is quoted, its quote doubled.
            {"KV1740ADAM", QByteArray::fromHex("0103020800"), "Rack\n2", {t + "\"Rack\n2\",7,VI_1,5,V,2048,5.00V"}},
            {"KV5510ADAM", QByteArray::fromHex("01020105"), "Bench \"A\", rack 2",
             {t + bench + "DI_01,1,,1,ON", t + bench + "DI_02,0,,0,OFF", t + bench + "DI_03,1,,1,ON"}}};
        for (const auto &c : cases) {
            const ModelRow *row = findModel(QString::fromLatin1(c.model));
            QVERIFY(row);
            const QVector<AcquisitionCycle::Read> reads = modelReads(*row);
            const AcquisitionCycle::Read &read = c.reply[1] == 0x02 ? reads.last() : reads.first();
            const QVector<ValueRow> rows = valueRows(*row, read, c.reply, 7, kNoon, c.window);
            QCOMPARE(rows.size(), read.count);
            QStringList got;
            for (const ValueRow &r : rows.first(c.lines.size()))
                got << valueCsvLine(r);
            QCOMPARE(got, c.lines);
        }
    }

    // A time in the zone the machine is set to, its offset after it: west of UTC, UTC, east.
    void localTimes()
    {
        const struct { const char *tz, *text; } zones[] = {{"<-0330>3:30", "2026-03-01T08:30:00.250-03:30"},
                                                           {"UTC0", "2026-03-01T12:00:00.250+00:00"},
                                                           {"<+0530>-5:30", "2026-03-01T17:30:00.250+05:30"}};
        for (const auto &z : zones) {
            qputenv("TZ", z.tz);
            tzset();
            QCOMPARE(isoLocalTime(kNoon), QString::fromLatin1(z.text));
        }
    }

    void logStartsWithHeaderContinuesAndRotates()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("values.csv"));
        const mode_t umask = ::umask(022);
        ValueRow row{kNoon, QStringLiteral("KV1730ADAM"), 1, QStringLiteral("AI_1"), 10.0, QStringLiteral("mA"), 2048,
                     QStringLiteral("10.00mA"), false, {}};
        const qint64 lineBytes = valueCsvLine(row).toUtf8().size() + 1, headerBytes = kValueCsvHeader.size() + 1;
        int failures = 0;
        // Room for the header and three lines a file; three files kept. A log opened again
        // continues the file without a second header.
        const auto write = [&](int from, int to) {
            ValueLog log(path, [&](const QString &) { ++failures; }, headerBytes + 3 * lineBytes, 3);
            for (int i = from; i < to; ++i) {
                row.raw = std::uint16_t(i);
                log.write({row});
            }
        };
        write(0, 4);
        QCOMPARE(rawColumn(path) + rawColumn(path + ".1"), (QStringList{"header", "3", "header", "0", "1", "2"}));
        write(4, 12);
        // Three files kept: 0-2 went at the third rotation.
        QCOMPARE(rawColumn(path) + rawColumn(path + ".1") + rawColumn(path + ".2"),
                 (QStringList{"header", "9", "10", "11", "header", "6", "7", "8", "header", "3", "4", "5"}));
        QVERIFY(!QFile::exists(path + ".3") && failures == 0);
        // Made as the user's files are: read by all, written by the owner.
        struct stat made{};
        QVERIFY(::stat(QFile::encodeName(path).constData(), &made) == 0 && ::umask(umask) == 022);
        QCOMPARE(made.st_mode & 0777, 0644u);
        // A file that may grow to its header and a line and a half (48 + 96 bytes) takes a read's
        // first row whole and not the half of its second: the file is cut back to its last whole
        // line, the rows lost are counted, the cause told once (a size limit says "File too large",
        // as a full disk says "No space left on device") and, when a row goes through again, how many
        // were lost since the first one's time. Then the file is removed (or its folder, or it is
        // replaced by an empty file), and made again with its header.
        const QString logPath = dir.filePath(QStringLiteral("logs/v.csv"));
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("logs")));
        QStringList told;
        ValueLog log(logPath, [&](const QString &message) { told << message; });
        const auto writeRows = [&](int first, int n) {
            QVector<ValueRow> rows(n, row);
            for (int i = 0; i < n; ++i)
                rows[i].raw = std::uint16_t(first + i);
            log.write(rows);
        };
        rlimit unlimited{};
        getrlimit(RLIMIT_FSIZE, &unlimited);
        const rlimit small{144, unlimited.rlim_max};
        const auto sigxfsz = std::signal(SIGXFSZ, SIG_IGN);
        setrlimit(RLIMIT_FSIZE, &small);
        writeRows(0, 3);
        row.wallMs += 100;
        writeRows(3, 1);
        setrlimit(RLIMIT_FSIZE, &unlimited);
        std::signal(SIGXFSZ, sigxfsz);
        writeRows(4, 1);
        QCOMPARE(rawColumn(logPath), (QStringList{"header", "0", "4"}));
        QCOMPARE(told, (QStringList{"cannot write the value log " + logPath + ": File too large",
                                    "the value log " + logPath + " is written again: 3 rows lost since 2026-03-01T17:30:00.250+05:30"}));
        QCOMPARE(std::pair(log.rowsLost(), log.rows()), std::pair(3LL, 5LL));
        for (const char *gone : {"file", "folder", "replaced"}) {
            QVERIFY(gone == "folder"sv ? QDir(dir.filePath(QStringLiteral("logs"))).removeRecursively() : QFile::remove(logPath));
            QVERIFY(gone != "replaced"sv || QFile(logPath).open(QIODevice::WriteOnly));
            writeRows(5, 1);
            QCOMPARE(rawColumn(logPath), (QStringList{"header", "5"}));
        }
        QCOMPARE(told.mid(2), QStringList(3, "the value log " + logPath + " was removed: made again"));
    }

    // A pipe gets whole lines, the value log's header once. A reader gone fails the write (the
    // program is not ended by SIGPIPE), told once though a line comes from inside the telling (a
    // message box's event loop); a pipe without a reader is not waited for; a reader back, or a
    // pipe made anew at the path, gets the next line and the count of those lost is told. A full
    // pipe is waited for: nothing is lost while its reader drains it only once it is full.
    void pipe_data()
    {
        QTest::addColumn<bool>("values");
        QTest::newRow("value log") << true;
        QTest::newRow("traffic log") << false;
    }
    void pipe()
    {
        QFETCH(bool, values);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("fifo"));
        const QByteArray name = QFile::encodeName(path);
        QCOMPARE(::mkfifo(name.constData(), 0600), 0);
        int reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
        QStringList told;
        std::function<void(qint64)> write;
        const auto tell = [&](const QString &message) {
            if ((told << message).size() % 2)
                write(kNoon + 50);
        };
        ValueLog valueLog(path, tell);
        TrafficLogFile trafficLog(path, tell);
        write = [&](qint64 ms) {
            values ? valueLog.write({ValueRow{ms, QStringLiteral("KV5510ADAM"), 1, QStringLiteral("DI_01"), 1.0, {}, 1, QStringLiteral("ON"), true, {}}})
                   : trafficLog.write(QStringLiteral("KV5510ADAM"), TrafficRow{.wallMs = ms});
        };
        char buffer[4096];
        const auto read = [&] { return QByteArray(buffer, int(qMax<ssize_t>(::read(reader, buffer, sizeof buffer), 0))).count('\n'); };
        write(kNoon);
        write(kNoon);
        QCOMPARE(read(), values ? 3 : 2);
        for (const qint64 ms : {kNoon, kNoon + 60000}) {
            ::close(reader);
            write(ms);
            write(ms + 100);
            QVERIFY(ms == kNoon || (::unlink(name.constData()) == 0 && ::mkfifo(name.constData(), 0600) == 0));
            reader = ::open(name.constData(), O_RDONLY | O_NONBLOCK);
            write(ms + 200);
            QCOMPARE(read(), 1);
        }
        const QString log = values ? QStringLiteral("value log ") + path : QStringLiteral("traffic log ") + path;
        QCOMPARE(told, (QStringList{"cannot write the " + log + ": Broken pipe",
                                    "the " + log + " is written again: 3 rows lost since 2026-03-01T17:30:00.250+05:30",
                                    "cannot write the " + log + ": Broken pipe",
                                    "the " + log + " is written again: 3 rows lost since 2026-03-01T17:31:00.250+05:30"}));
        ::fcntl(reader, F_SETPIPE_SZ, 4096);
        int drained = 0;
        std::thread drain([&] {
            for (int queued = 0; ::ioctl(reader, FIONREAD, &queued) == 0 && queued < 4000;)
                std::this_thread::yield();
            for (pollfd ready{reader, POLLIN, 0}; drained < 200 && ::poll(&ready, 1, 10000) > 0 && (ready.revents & POLLIN);)
                drained += read();
        });
        for (int i = 0; i < 200; ++i)
            write(kNoon);
        drain.join();
        ::close(reader);
        QCOMPARE(QList<qsizetype>({drained, told.size()}), QList<qsizetype>({200, 4})); // none lost, nothing more told
    }

    void seriesStepsAndHour()
    {
        TrendSeries s;
        const qint64 t0 = kNoon - 250; // a whole second: 10 s fill 100 buckets
        // 10 s at 10 ms: a flat 5 with one spike to 9.1 and one dip to 1.25 inside 100 ms buckets.
        // Kept as float: a value reads back as the float nearest it.
        for (qint64 t = 0; t < 10000; t += 10)
            s.add(t0 + t, t == 4330 ? 9.1 : t == 7770 ? 1.25 : 5.0);
        QCOMPARE(s.buckets().size(), std::size_t(100));
        // A point a column (its first value's), two where the spike and the dip are, each at its
        // own time, in time order.
        QList<QPointF> points;
        for (const qint64 t : {0, 1000, 2000, 3000, 4000, 4330, 5000, 6000, 7000, 7770, 8000, 9000})
            points << QPointF(double(t0 + t), t == 4330 ? double(float(9.1)) : t == 7770 ? 1.25 : 5.0);
        QCOMPARE(s.view(t0, t0 + 10000, 10), points);
        // "Not Connect" draws nothing and reads as none; a later value reads again.
        s.add(t0 + 10000, std::nullopt);
        QCOMPARE(s.valueAt(t0 + 10050), std::optional<double>());
        QCOMPARE(s.valueAt(t0 + 9950), std::optional<double>(5.0));
        QCOMPARE(s.view(t0 + 10000, t0 + 10100, 5).size(), 0);
        // A column whose max came before its min draws both in time order; a bucket that reaches
        // into the view from its left (9 at .250, the view from .299) is drawn.
        TrendSeries fall;
        fall.add(kNoon, 9.0);
        fall.add(kNoon + 200, 1.0);
        QCOMPARE(fall.view(kNoon + 49, kNoon + 1049, 1), (QList<QPointF>{{double(kNoon), 9}, {double(kNoon + 200), 1}}));
        // Drawn as steps, a value holds until the next one's time.
        TrendSeries steps;
        steps.add(kNoon, 0.0);
        steps.add(kNoon + 1000, 1.0);
        const QList<QPointF> stepped = steps.view(kNoon, kNoon + 2000, 100, true);
        QCOMPARE(stepped, (QList<QPointF>{{double(kNoon), 0}, {double(kNoon + 1000), 0}, {double(kNoon + 1000), 1}}));
        // One hour kept back from the newest bucket: kNoon's bucket stays at an hour, goes after it.
        steps.add(kNoon + 3600000, 2.0);
        QCOMPARE(steps.buckets().front().startMs, kNoon - 50);
        steps.add(kNoon + 3600100, 3.0);
        QCOMPARE(steps.buckets().front().startMs, kNoon + 950);
        QCOMPARE(steps.buckets().size(), std::size_t(3));
    }

    // "Save CSV…": the columns, a bucket's min and max per channel, times merged across channels,
    // only the buckets of the span asked for; the cursor's text with the decimals the window showed.
    void trendCsvLines()
    {
        Trend trend;
        const auto row = [](qint64 ms, const char *channel, std::optional<double> v, const char *unit) {
            const QString text = v ? QString::number(*v, 'f', 2) + QString::fromUtf8(unit) : QStringLiteral("Not Connect");
            return ValueRow{ms, QStringLiteral("W"), 1, QString::fromUtf8(channel), v, QString::fromUtf8(unit), 0, text, false, {}};
        };
        trend.add({row(kNoon - 1250, "AI_1", 3.0, "mA"), row(kNoon - 250, "AI_1", 4.5, "mA"), row(kNoon - 200, "T,1", 21.25, "℃")});
        trend.add({row(kNoon - 190, "AI_1", 19.0, "mA"), row(kNoon + 750, "AI_1", 7.0, "mA"), row(kNoon + 900, "T,1", std::nullopt, "℃")});
        trend.add({row(kNoon + 1750, "AI_1", 1.0, "mA")});
        QCOMPARE(trendCsv(trend, QStringLiteral("Rack 2"), kNoon - 150, kNoon + 750),
                 QStringLiteral("time,window,channel,min,max,unit\n"
                                "2026-03-01T17:30:00.000+05:30,Rack 2,AI_1,4.5,19,mA\n"
                                "2026-03-01T17:30:00.000+05:30,Rack 2,\"T,1\",21.25,21.25,℃\n"
                                "2026-03-01T17:30:01.000+05:30,Rack 2,AI_1,7,7,mA\n"));
        QCOMPARE(trend.channels()[1].text(7), QStringLiteral("7.00℃")); // after a "Not Connect" too
    }
};

QTEST_GUILESS_MAIN(TestValues)
#include "test_values.moc"
