// korvant-site-bench: a whole line polled as fast as it allows. Ten KV5510ADAM at addresses 1-10
// on korvant-sim's real-time line (--realtime: each reply after the request's bytes, the
// 3.5-character silence and the reply's bytes) at 38400 and at 9600 baud, polled by
// `korvant-cli poll 5510 --address 1-10 --period 1`, by `korvant-cli site poll` where this
// korvant-cli has it, and by mbpoll at its least poll rate (10 ms). Each prints its exchanges a
// second and their share of the line's capacity, the median of three runs taken in turn; the
// ratio to mbpoll is the median of the ratios within each run. Then the cost of one address
// without a module among the ten, to the others' rate.
//
// The capacity of one exchange is worked out here from the bits, not from the product's code:
// the request (8 bytes) and the reply (6 bytes) at 10 bits a byte, and twice the silence that ends
// a frame (3.5 characters of 11 bits; 1.75 ms above 19200 baud).
//
//   korvant-site-bench [--rounds N] [--seconds S] [--cli PATH]
//   (N rounds of ten addresses a korvant-cli run, 30 by default; S seconds an mbpoll run, 3)
#include <QDir>
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
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::string cliPath = KV_CLI_PATH;

double nowMs()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

// Starts a program in folder dir with stdout to outPath and stderr to /dev/null.
pid_t spawn(const std::vector<std::string> &args, const std::string &dir, const std::string &outPath)
{
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0)
            _exit(127);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int null = open("/dev/null", O_WRONLY);
        dup2(out, 1);
        dup2(null, 2);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return pid;
}

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

void lineFigures(int baud, int code, int rounds, double seconds, bool sitePoll)
{
    const double silenceMs = baud > 19200 ? 1.75 : 3.5 * 11 * 1000.0 / baud;
    const double capacityMs = 14 * 10 * 1000.0 / baud + 2 * silenceMs;
    std::printf("\n%d baud: capacity of one exchange %.2f ms (8 + 6 bytes x 10 bits = %.2f ms, + 2 x %.2f ms "
                "silence), %.1f exchanges/s\n",
                baud, capacityMs, 14 * 10 * 1000.0 / baud, silenceMs, 1000 / capacityMs);
    const std::vector<std::string> poll{"poll", "5510", "--address", "1-10", "--period", "1", "--baud", std::to_string(baud), "--quiet"};
    Sim sim({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, code);
    std::vector<double> cli, site, mb, ratio;
    for (int run = 0; run < 3; ++run) {
        cli.push_back(cliRate(sim, poll, rounds).first);
        if (sitePoll) {
            const std::string file = sim.path() + "/bench.kvsite";
            runCli(sim, {"site", "new", file, "--port", sim.device, "--codes", std::to_string(code), "--from", "1", "--to", "10", "--quiet"});
            site.push_back(cliRate(sim, {"site", "poll", file, "--period", "1", "--quiet"}, rounds).first);
        }
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
    row("mbpoll -a 1:10 -l 10", mb);
    std::printf("  goal >= 0.80 of capacity; korvant-cli poll / mbpoll %.2f (median of the three runs' ratios)\n", median(ratio));

    // One address of the ten without a module: what the nine others lose of their rate.
    Sim nine({1, 2, 3, 4, 5, 6, 7, 8, 9}, code);
    std::vector<double> alone, beside;
    for (int run = 0; run < 3; ++run) {
        alone.push_back(cliRate(sim, poll, rounds).second / 10);
        beside.push_back(cliRate(nine, poll, rounds).second / 9);
    }
    std::printf("  korvant-cli poll, address 10 silent: %.1f accepted a second a module beside %.1f with all ten there: "
                "%.0f %% less (goal <= 10 %%)\n",
                median(beside), median(alone), (1 - median(beside) / median(alone)) * 100);
}

} // namespace

int main(int argc, char **argv)
{
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
    return 0;
}
