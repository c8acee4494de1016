// The traffic monitor's memory over a day: the exchanges a window polling every 20 ms makes in
// 24 hours (4.32 million), fed back to back through a window's recorder and the monitor's table
// model as the monitor takes them in (a batch every kBatchMs of a poll at 20 ms),
// no window shown. Prints the resident memory after 0.1 and after 4.32 million.
// --paint [BATCHES]: the cost of drawing instead: a monitor shown (offscreen) takes in BATCHES
// batches of a poll at 20 ms after 20 to warm up, each painted before the next; prints the CPU a
// batch. Under callgrind, the difference of two counts gives the instructions a batch.
#include "trafficwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>

namespace {
long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}
double cpuUs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e6 + double(t.tv_nsec) / 1e3;
}

int paintBench(int argc, char **argv, int batches)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QByteArray request = QByteArray::fromHex("01020000000879CC");
    TrafficRecorder recorder;
    TrafficWindow window(&recorder, QStringLiteral("KV5510ADAM"), 6, false);
    window.show();
    QCoreApplication::processEvents();
    qint64 ns = 0;
    const qint64 wallMs = 1'700'000'000'000;
    int n = 0;
    const auto batch = [&] {
        for (int i = 0; i < TrafficWindow::kBatchMs / 20; ++i, ++n, ns += 20'000'000) {
            recorder.sent(request, wallMs + ns / 1'000'000, ns);
            // Three input patterns in turn, the reply after 4.0 to 4.6 ms.
            const QByteArray reply = withCrc(QByteArray::fromHex("010201") + char(n % 3));
            const qint64 at = ns + 4'000'000 + (n % 7) * 100'000;
            recorder.received(reply, wallMs + at / 1'000'000, at);
            recorder.judged(judgeReply(reply, request, 6), wallMs + at / 1'000'000, at);
        }
        window.refresh();
        QCoreApplication::processEvents();
    };
    for (int i = 0; i < 20; ++i)
        batch();
    const double start = cpuUs();
    for (int i = 0; i < batches; ++i)
        batch();
    std::printf("batches=%d rows=%d cpu_us_per_batch=%.1f\n", batches, n * 2, (cpuUs() - start) / batches);
    return 0;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc >= 2 && std::strcmp(argv[1], "--paint") == 0)
        return paintBench(argc, argv, argc >= 3 ? std::atoi(argv[2]) : 100);
    QCoreApplication app(argc, argv);
    const QByteArray request = QByteArray::fromHex("01020000000879CC");
    const QByteArray good = QByteArray::fromHex("01020105618B");
    const QByteArray bad = QByteArray::fromHex("01020105618C");
    TrafficRecorder recorder;
    TrafficModel model(&recorder);
    const qint64 total = 4'320'000;
    qint64 ns = 0;
    long at100k = 0;
    const long atStart = residentKb();
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 1; i <= total; ++i) {
        recorder.sent(request, 1'700'000'000'000 + ns / 1'000'000, ns);
        // One reply in fifty is refused, one in a hundred never comes.
        if (i % 100 != 0) {
            // As a serial port hands bytes over: in a read chunk of 32 kB of their own.
            QByteArray chunk;
            chunk.reserve(32768);
            chunk += i % 50 == 0 ? bad : good;
            recorder.received(chunk, 1'700'000'000'000 + ns / 1'000'000, ns + 4'000'000 + (i % 7) * 100'000);
        }
        recorder.judged(judgeReply(i % 100 != 0 ? (i % 50 == 0 ? bad : good) : QByteArray(), request, 6),
                        1'700'000'000'000 + ns / 1'000'000, ns + 10'000'000);
        ns += 20'000'000;
        if (i % (TrafficWindow::kBatchMs / 20) == 0)
            model.sync();
        if (i == 100'000)
            at100k = residentKb();
    }
    model.sync();
    const long atEnd = residentKb();
    std::printf("exchanges=%lld rows_kept=%d rss_kb_at_start=%ld rss_kb_at_0.1M=%ld rss_kb_at_4.32M=%ld growth_kb=%ld "
                "seconds=%.1f\n%s\n",
                total, model.rowCount(), atStart, at100k, atEnd, atEnd - at100k, double(clock.elapsed()) / 1000,
                qPrintable(statisticsLine(recorder.statistics())));
    return 0;
}
