// korvant-trend-bench: what a trend window costs the window it belongs to.
//
// CPU: an analog input window (8 channels) polling every 100 ms on the in-process simulated bus,
// its trend open or closed, in child processes of their own, alternating closed/open three times;
// each run's CPU time per accepted exchange, and the median of the three open/closed ratios
// (goal: at most 1.25).
//
// Memory: a day of values at 100 ms (864,000 reads of 8 channels) fed to the window's values
// back to back, no waiting, with the trend open (drawn once a minute of data) or closed; the
// resident memory at the end of each (goal: open within 20 MB of closed).
//
// Runs on the offscreen platform: the chart is drawn into a raster backing store; a display
// server's flush is not part of the figures. Prints the load average beside them, since the
// machine may be shared.
#include "support/guitest.h" // the tests' working folder, prompt recorder and sim line

#include "analoginputwindow.h"
#include "trendwindow.h"
#include "valuelog.h"

#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {
long statusKb(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0)
            return std::stol(line.substr(std::strlen(key)));
    return -1;
}

qint64 cpuUs()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return qint64(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000 + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
}

std::string loadAverage()
{
    std::ifstream f("/proc/loadavg");
    std::string one, five;
    f >> one >> five;
    return one + " " + five;
}

// An 8-register reply whose values wander, with a spike now and then.
QByteArray wanderingReply(qint64 i)
{
    QByteArray reply = QByteArray::fromHex("010310");
    for (int c = 0; c < 8; ++c) {
        int v = 2048 + int(800 * std::sin(double(i) / (300.0 + 50 * c))) + int((i * 7919 + c * 104729) % 41) - 20;
        if (i % 9973 == c)
            v = 4095;
        reply.append(char(v >> 8)).append(char(v & 0xFF));
    }
    return reply;
}

int pollChild(int argc, char **argv, bool trend, int seconds)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GuiTestEnvironment env(shortTimingFile(40, 100, 50));
    SimModule *module = env.bus.addModule(1730, 1, 2);
    for (int c = 0; c < 8; ++c)
        module->setHolding(c, std::uint16_t(1000 + 300 * c));
    auto *w = static_cast<AnalogInputWindow *>(createTestWindow(QStringLiteral("KV1730ADAM")));
    w->show();
    if (!openPort(w))
        return 1;
    if (trend)
        w->openTrend();
    int accepted = 0;
    QObject::connect(w->Text_Message, &TextBox::textChanged, w, [&] {
        if (w->Text_Message->toPlainText() == kDataNormal)
            ++accepted;
    });
    // The module's values move, so every draw has something new.
    QTimer wander;
    qint64 step = 0;
    QObject::connect(&wander, &QTimer::timeout, [&] {
        const QByteArray r = wanderingReply(++step);
        for (int c = 0; c < 8; ++c)
            module->setHolding(c, std::uint16_t(std::uint8_t(r[3 + 2 * c]) << 8 | std::uint8_t(r[4 + 2 * c])));
    });
    wander.start(100);
    QTimer::singleShot(seconds * 1000, &app, [w] { w->Command_OK1->click(); });
    QTimer::singleShot(seconds * 1000 + 200, &app, &QCoreApplication::quit);
    const qint64 before = cpuUs();
    w->Command_OK1->click();
    app.exec();
    const qint64 used = cpuUs() - before;
    std::printf("accepted=%d cpu_us=%lld\n", accepted, qlonglong(used));
    // The figures are out; tearing the window and the simulated bus down is no part of them.
    std::fflush(stdout);
    _exit(0);
}

int memoryChild(int argc, char **argv, bool trend)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    GuiTestEnvironment env(shortTimingFile(40, 100, 50));
    auto *w = static_cast<TestWindow *>(createTestWindow(QStringLiteral("KV1730ADAM")));
    w->show();
    TrendWindow *view = trend ? w->openTrend() : nullptr;
    QCoreApplication::processEvents();
    const AcquisitionCycle::Read read = w->cycle().read(0);
    const qint64 reads = 24LL * 3600 * 10;
    const qint64 t0 = 1772366400000;
    QElapsedTimer clock;
    clock.start();
    for (qint64 i = 0; i < reads; ++i) {
        w->values().add(valueRows(w->model(), read, wanderingReply(i), 1, t0 + i * 100, w->windowTitle()));
        if (view && i % 600 == 599) {
            view->refresh();
            QCoreApplication::processEvents();
        }
    }
    QCoreApplication::processEvents();
    std::printf("rss_kb=%ld hwm_kb=%ld seconds=%.1f\n", statusKb("VmRSS:"), statusKb("VmHWM:"),
                double(clock.elapsed()) / 1000);
    std::fflush(stdout);
    _exit(0);
}

// Runs this program with args; its one line of output as key=value pairs.
std::string runChild(const std::vector<std::string> &args)
{
    // Not /proc/self/exe in the command: popen's shell would be "self".
    char self[4096] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) < 0)
        return {};
    std::string command = self;
    for (const std::string &a : args)
        command += " " + a;
    FILE *p = popen(command.c_str(), "r");
    if (!p)
        return {};
    char line[512] = {};
    std::string out;
    while (std::fgets(line, sizeof line, p))
        out += line;
    pclose(p);
    return out;
}

double value(const std::string &line, const std::string &key)
{
    const std::size_t at = line.find(key + "=");
    return at == std::string::npos ? -1 : std::atof(line.c_str() + at + key.size() + 1);
}
} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--poll-child" && argc > 3)
        return pollChild(argc, argv, std::string(argv[2]) == "open", std::atoi(argv[3]));
    if (mode == "--memory-child" && argc > 2)
        return memoryChild(argc, argv, std::string(argv[2]) == "open");
    const int seconds = mode == "--quick" ? 5 : 20;

    std::printf("load average before: %s\n", loadAverage().c_str());
    std::vector<double> ratios;
    for (int run = 0; run < 3; ++run) {
        double perExchange[2] = {};
        for (int open = 0; open < 2; ++open) {
            const std::string out = runChild({"--poll-child", open ? "open" : "closed", std::to_string(seconds)});
            const double accepted = value(out, "accepted"), cpu = value(out, "cpu_us");
            perExchange[open] = accepted > 0 ? cpu / accepted : -1;
            std::printf("run %d trend %-6s accepted=%.0f cpu_us=%.0f cpu_us_per_exchange=%.1f\n", run + 1,
                        open ? "open" : "closed", accepted, cpu, perExchange[open]);
        }
        ratios.push_back(perExchange[0] > 0 ? perExchange[1] / perExchange[0] : -1);
    }
    std::sort(ratios.begin(), ratios.end());
    std::printf("cpu per exchange open/closed: %.3f %.3f %.3f, median %.3f (goal <= 1.25)\n", ratios[0], ratios[1],
                ratios[2], ratios[1]);

    const std::string closed = runChild({"--memory-child", "closed"});
    const std::string open = runChild({"--memory-child", "open"});
    std::printf("a day at 100 ms, trend closed: %s", closed.c_str());
    std::printf("a day at 100 ms, trend open:   %s", open.c_str());
    std::printf("memory open - closed: %.1f MB (goal <= 20 MB)\n", (value(open, "rss_kb") - value(closed, "rss_kb")) / 1024);
    std::printf("load average after: %s\n", loadAverage().c_str());
    return 0;
}
