// korvant-site-bench: a whole line polled as fast as it allows. Ten KV5510ADAM at addresses 1-10
// on korvant-sim's real-time line (--realtime: each reply after the request's bytes, the
// 3.5-character silence and the reply's bytes) at 38400 and at 9600 baud, polled by
// `korvant-cli poll 5510 --address 1-10 --period 1`, by `korvant-cli site poll` where this
// korvant-cli has it, by the site window (a child process of this program, offscreen, as Main opens
// a site and "Start" polls it) and by mbpoll at its least poll rate (10 ms). Each prints its
// exchanges a second and their share of the line's capacity, the median of three runs taken in
// turn; the ratio to mbpoll is the median of the ratios within each run. Then the cost of one
// module without an answer among the ten, to the others' rate. Last, a site of 32 modules in the
// window at 38400: its longest event-loop stall, its CPU per exchange, its peak memory over Main's.
//
// The capacity of one exchange is worked out here from the bits, not from the product's code:
// the request (8 bytes) and the reply (6 bytes) at 10 bits a byte, and twice the silence that ends
// a frame (3.5 characters of 11 bits; 1.75 ms above 19200 baud).
//
//   korvant-site-bench [--rounds N] [--seconds S] [--cli PATH]
//   (N rounds of ten addresses a korvant-cli run, 30 by default; S seconds an mbpoll or window run, 3)
#include "prompt.h"
#include "sitewindow.h"
#include "toolwindows.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "childproc.h"

namespace {

std::string cliPath = KV_CLI_PATH;

int reap(pid_t pid)
{
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string slurp(const std::string &path)
{
    std::ifstream f(path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The number after "  key " on korvant-cli's statistics line of the whole run ("requests 300  ok
// 300  timeout 0 ..."), or where there is none (site poll), the sum over the modules' lines
// ("address 3  requests 30  ok 30 ...").
long statistic(const std::string &out, const std::string &key)
{
    const auto value = [&](size_t line) {
        const size_t end = out.find('\n', line), at = out.find("  " + key + " ", line);
        return at < end ? std::atol(out.c_str() + at + key.size() + 3) : 0L;
    };
    if (const size_t total = out.rfind("\nrequests "); total != std::string::npos)
        return key == "requests" ? std::atol(out.c_str() + total + 10) : value(total + 1);
    long sum = 0;
    for (size_t line = out.find("  requests "); line != std::string::npos; line = out.find("  requests ", line + 1))
        sum += key == "requests" ? std::atol(out.c_str() + line + 11) : value(line);
    return sum;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? -1 : v[v.size() / 2];
}

// The simulator with modules at these addresses on its real-time line, in a folder of its own.
struct Sim {
    QTemporaryDir dir;
    pid_t pid = -1;
    std::string device;
    Sim(const std::vector<int> &addresses, int code)
    {
        QDir(dir.path()).mkdir(QStringLiteral("sys"));
        std::vector<std::string> args{KV_SIM_PATH, "--dir", dir.path().toStdString(), "--realtime", "--quiet"};
        for (const int a : addresses)
            args.insert(args.end(), {"--module", "5510:" + std::to_string(a) + ":" + std::to_string(code)});
        pid = spawn(args, path(), path() + "/sim.out");
        const QString link = dir.filePath(QStringLiteral("sys/COM1"));
        for (int i = 0; i < 200 && !QFileInfo(link).isSymLink(); ++i)
            usleep(20000);
        device = QFileInfo(link).symLinkTarget().toStdString();
    }
    ~Sim()
    {
        kill(pid, SIGTERM);
        reap(pid);
    }
    std::string path() const { return dir.path().toStdString(); }
};

// A korvant-cli run: its wall time and statistics.
struct CliRun {
    double wallMs = 0;
    long requests = 0, ok = 0;
};

CliRun runCli(const Sim &sim, std::vector<std::string> args)
{
    args.insert(args.begin(), cliPath);
    const double start = nowMs();
    reap(spawn(args, sim.path(), sim.path() + "/cli.out"));
    const std::string out = slurp(sim.path() + "/cli.out");
    return {nowMs() - start, statistic(out, "requests"), statistic(out, "ok")};
}

// Exchanges a second (all, and accepted) of a command taking --count: a run of `rounds` rounds less
// a run of one, so that the start-up drops out.
std::pair<double, double> cliRate(const Sim &sim, const std::vector<std::string> &args, int rounds)
{
    std::vector<std::string> one = args, many = args;
    one.insert(one.end(), {"--count", "1"});
    many.insert(many.end(), {"--count", std::to_string(rounds)});
    const CliRun a = runCli(sim, one), b = runCli(sim, many);
    const double s = (b.wallMs - a.wallMs) / 1e3;
    return {(b.requests - a.requests) / s, (b.ok - a.ok) / s};
}

// mbpoll's polls a second over `seconds` (its start-up, a few ms, counted in).
double mbpollRate(const Sim &sim, int baud, double seconds)
{
    const std::string out = sim.path() + "/mbpoll.out";
    const double start = nowMs();
    const pid_t pid = spawn({"/usr/bin/mbpoll", "-m", "rtu", "-a", "1:10", "-b", std::to_string(baud), "-P", "none", "-t",
                             "1", "-r", "1", "-c", "8", "-l", "10", "-o", "0.2", sim.device},
                            sim.path(), out);
    usleep(useconds_t(seconds * 1e6));
    kill(pid, SIGINT);
    reap(pid);
    const double s = (nowMs() - start) / 1e3;
    const std::string text = slurp(out);
    long polls = 0;
    for (size_t at = text.find("-- Polling"); at != std::string::npos; at = text.find("-- Polling", at + 1))
        ++polls;
    return polls / s;
}

bool cliHasSitePoll()
{
    const std::string out = "/tmp/korvant-site-bench-help.out";
    reap(spawn({cliPath, "--help"}, "/", out));
    const bool has = slurp(out).find("site poll") != std::string::npos;
    unlink(out.c_str());
    return has;
}

std::string selfPath;

long peakKb()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss;
}

double cpuUs()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_utime.tv_sec * 1e6 + r.ru_utime.tv_usec + r.ru_stime.tv_sec * 1e6 + r.ru_stime.tv_usec;
}

// A site file of KV5510ADAM at addresses 1..n at code on the device.
std::string writeSiteFile(const Sim &sim, int n, int code)
{
    std::string modules;
    for (int a = 1; a <= n; ++a)
        modules += (a > 1 ? ", " : "") + std::string("{\"address\": ") + std::to_string(a) + ", \"model\": \"KV5510ADAM\", \"code\": "
                   + std::to_string(code) + "}";
    const std::string path = sim.path() + "/bench" + std::to_string(n) + ".kvsite";
    std::ofstream(path) << "{\"format\": 1, \"name\": \"bench\", \"port\": \"" << sim.device << "\", \"code\": " << code
                        << ", \"modules\": [" << modules << "]}\n";
    return path;
}

// Child: Main opens the site, "Start" polls it; after the first rounds, seconds of polling measured:
// exchanges, those accepted, those of the modules but the last accepted, CPU, the longest stall of
// the event loop (a 10 ms beat's lateness), peak memory and Main's before the site opened.
int runWindowChild(int argc, char **argv, const QString &site, double seconds)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStandardPaths::setTestModeEnabled(true); // the recent sites not in the user's list
    setPromptSink([](const QString &, const QString &text) { std::fprintf(stderr, "prompt: %s\n", qPrintable(text)); });
    ToolWindows tool;
    tool.main.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const long mainKb = peakKb();
    tool.main.openSite(site);
    auto *w = qobject_cast<SiteWindow *>(tool.registry.window(QStringLiteral("SiteWindow")));
    if (!w)
        return 1;
    w->Command_Start_Click();
    const auto count = [w](bool accepted, bool allButLast) {
        long n = 0;
        for (int k = 0; k < w->site().modules.size() - (allButLast ? 1 : 0); ++k) {
            const SiteModuleState &s = w->poll().state(k);
            n += accepted ? s.ok : s.ok + s.late + s.noReply + s.errors;
        }
        return n;
    };
    QElapsedTimer clock;
    clock.start();
    while (w->poll().round() < 2 && clock.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const long all0 = count(false, false), ok0 = count(true, false), live0 = count(true, true);
    const double cpu0 = cpuUs();
    qint64 stallMs = 0;
    QElapsedTimer gap;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, [&] { stallMs = std::max(stallMs, gap.restart() - 10); });
    gap.start();
    beat.start(10);
    clock.restart();
    while (clock.elapsed() < seconds * 1000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double s = clock.elapsed() / 1e3, cpu = cpuUs() - cpu0;
    const long all = count(false, false) - all0;
    std::printf("rate=%.2f ok_rate=%.2f live_rate=%.2f cpu_us=%.1f stall_ms=%lld peak_kb=%ld main_kb=%ld\n", all / s,
                (count(true, false) - ok0) / s, (count(true, true) - live0) / s, all ? cpu / all : -1, stallMs, peakKb(), mainKb);
    std::fflush(stdout);
    return 0;
}

// A window child's figures by name.
double figure(const std::string &out, const std::string &key)
{
    const size_t at = out.find(key + "=");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + key.size() + 1);
}

std::string runWindow(const Sim &sim, const std::string &site, double seconds)
{
    reap(spawn({selfPath, "--window-child", site, std::to_string(seconds)}, sim.path(), sim.path() + "/window.out"));
    return slurp(sim.path() + "/window.out");
}

void lineFigures(int baud, int code, int rounds, double seconds, bool sitePoll)
{
    const double silenceMs = baud > 19200 ? 1.75 : 3.5 * 11 * 1000.0 / baud;
    const double capacityMs = 14 * 10 * 1000.0 / baud + 2 * silenceMs;
    std::printf("\n%d baud: capacity of one exchange %.2f ms (8 + 6 bytes x 10 bits = %.2f ms, + 2 x %.2f ms "
                "silence), %.1f exchanges/s\n",
                baud, capacityMs, 14 * 10 * 1000.0 / baud, silenceMs, 1000 / capacityMs);
    const std::vector<std::string> poll{"poll", "5510", "--address", "1-10", "--period", "1", "--baud", std::to_string(baud), "--quiet"};
    Sim sim({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, code);
    const std::string file = writeSiteFile(sim, 10, code);
    const std::vector<std::string> sitePollArgs{"site", "poll", file, "--period", "1", "--quiet"};
    std::vector<double> cli, site, window, mb, ratio;
    for (int run = 0; run < 3; ++run) {
        cli.push_back(cliRate(sim, poll, rounds).first);
        if (sitePoll)
            site.push_back(cliRate(sim, sitePollArgs, rounds).first);
        window.push_back(figure(runWindow(sim, file, seconds), "rate"));
        mb.push_back(mbpollRate(sim, baud, seconds));
        ratio.push_back(cli.back() / mb.back());
    }
    const auto row = [&](const char *name, const std::vector<double> &rates) {
        const double r = median(rates);
        std::printf("  %-52s %6.1f exchanges/s  %5.2f ms an exchange  %.2f of capacity (runs %.1f %.1f %.1f)\n", name, r,
                    1000 / r, r * capacityMs / 1000, rates[0], rates[1], rates[2]);
    };
    row("korvant-cli poll 5510 --address 1-10 --period 1", cli);
    if (sitePoll)
        row("korvant-cli site poll FILE --period 1", site);
    else
        std::printf("  korvant-cli site poll: skipped, this korvant-cli has no site command\n");
    row("site window (offscreen), Start", window);
    row("mbpoll -a 1:10 -l 10", mb);
    std::printf("  goal >= 0.80 of capacity; korvant-cli poll / mbpoll %.2f (median of the three runs' ratios)\n", median(ratio));

    // Address 10 without a module: what the nine others lose of their accepted rate.
    Sim nine({1, 2, 3, 4, 5, 6, 7, 8, 9}, code);
    const std::string nineFile = writeSiteFile(nine, 10, code);
    const std::vector<std::string> ninePoll{"site", "poll", nineFile, "--period", "1", "--quiet"};
    std::vector<double> cliAlone, cliBeside, siteAlone, siteBeside, winAlone, winBeside;
    for (int run = 0; run < 3; ++run) {
        cliAlone.push_back(cliRate(sim, poll, rounds).second / 10);
        cliBeside.push_back(cliRate(nine, poll, rounds).second / 9);
        if (sitePoll) {
            siteAlone.push_back(cliRate(sim, sitePollArgs, rounds).second / 10);
            siteBeside.push_back(cliRate(nine, ninePoll, rounds).second / 9);
        }
        winAlone.push_back(figure(runWindow(sim, file, seconds), "live_rate") / 9);
        winBeside.push_back(figure(runWindow(nine, nineFile, seconds), "live_rate") / 9);
    }
    const auto lost = [](const char *name, const std::vector<double> &beside, const std::vector<double> &alone) {
        std::printf("  %s, address 10 silent: %.1f accepted a second a module beside %.1f with all ten there: "
                    "%.0f %% less (goal <= 10 %%)\n",
                    name, median(beside), median(alone), (1 - median(beside) / median(alone)) * 100);
    };
    lost("korvant-cli poll", cliBeside, cliAlone);
    if (sitePoll)
        lost("korvant-cli site poll", siteBeside, siteAlone);
    lost("site window", winBeside, winAlone);
}

// A site of 32 modules in the window: stalls, CPU per exchange, memory.
void bigSiteFigures(double seconds)
{
    std::vector<int> addresses;
    for (int a = 1; a <= 32; ++a)
        addresses.push_back(a);
    Sim sim(addresses, 4);
    const std::string file = writeSiteFile(sim, 32, 4);
    std::vector<double> stall, cpu, over, rate;
    for (int run = 0; run < 3; ++run) {
        const std::string out = runWindow(sim, file, seconds);
        stall.push_back(figure(out, "stall_ms"));
        cpu.push_back(figure(out, "cpu_us"));
        over.push_back((figure(out, "peak_kb") - figure(out, "main_kb")) / 1024);
        rate.push_back(figure(out, "rate"));
    }
    std::printf("\nsite of 32 KV5510ADAM in the window at 38400, %.0f s runs (medians of three; runs in brackets):\n", seconds);
    std::printf("  %.1f exchanges/s; longest event-loop stall %.0f ms (%.0f %.0f %.0f; goal <= 50)\n", median(rate), median(stall),
                stall[0], stall[1], stall[2]);
    std::printf("  CPU %.0f us an exchange (%.0f %.0f %.0f; goal: no more than a module window's, korvant-bench)\n", median(cpu),
                cpu[0], cpu[1], cpu[2]);
    std::printf("  peak resident memory over Main's %+.1f MB (%.1f %.1f %.1f; goal <= 20)\n", median(over), over[0], over[1], over[2]);
}

} // namespace

int main(int argc, char **argv)
{
    selfPath = QFileInfo(QString::fromLocal8Bit(argv[0])).absoluteFilePath().toStdString();
    if (argc == 4 && std::string(argv[1]) == "--window-child")
        return runWindowChild(argc, argv, QString::fromLocal8Bit(argv[2]), std::atof(argv[3]));
    int rounds = 30;
    double seconds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--rounds")
            rounds = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "--seconds")
            seconds = std::atof(argv[i + 1]);
        else if (std::string(argv[i]) == "--cli")
            cliPath = argv[i + 1];
    }
    const bool sitePoll = cliHasSitePoll();
    std::printf("ten KV5510ADAM on korvant-sim --realtime, %d rounds a korvant-cli run, mbpoll %.0f s a run; %s\n", rounds,
                seconds, cliPath.c_str());
    lineFigures(38400, 4, rounds, seconds, sitePoll);
    lineFigures(9600, 2, rounds, seconds, sitePoll);
    bigSiteFigures(seconds * 2);
    return 0;
}
