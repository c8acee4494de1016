// korvant-cli-bench: the shell tool's figures, apart from korvant-bench's. On one simulated
// module over a pseudo-terminal: CPU per exchange of `korvant-cli poll` beside mbpoll at the same
// period, the poll's peak resident memory, and a survey of 254 addresses against 254 time-outs.
// Beside them, the floor: a loop in a child of this program that makes korvant-cli's system calls
// of an exchange (write the request, wait for the reply, read it, wait until the next request,
// write a line) and nothing else. Each of the three runs once with one exchange and once with N:
// the difference is what an exchange costs once running, with the start-up (Qt's libraries for
// korvant-cli, a fork for the floor) on a row of its own.
//
//   korvant-cli-bench [--polls N] [--period MS] [--cli PATH]
//   (without --period: 20, 50 and 100 ms in turn; --cli: another build's korvant-cli, to compare)
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "childproc.h"

namespace {

std::string cliPath = KV_CLI_PATH;

double cpuMs(const rusage &r)
{
    return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 + (r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

int reap(pid_t pid, rusage *usage)
{
    int status = 0;
    wait4(pid, &status, 0, usage);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int countLines(const std::string &path, const std::string &prefix)
{
    FILE *f = fopen(path.c_str(), "r");
    if (!f)
        return 0;
    char line[4096];
    int n = 0;
    while (fgets(line, sizeof line, f))
        n += std::string(line).rfind(prefix, 0) == 0;
    fclose(f);
    return n;
}

// The floor: polls times the KV5510ADAM's read of eight inputs at the period, with korvant-cli's
// waits (the line and a Ctrl+C socket polled together) and one written line an exchange.
void floorLoop(const std::string &device, int polls, int periodMs, const std::string &outPath)
{
    const int fd = open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    cfsetspeed(&t, B9600);
    tcsetattr(fd, TCSANOW, &t);
    int interrupt[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, interrupt);
    const unsigned char request[] = {0x01, 0x02, 0x00, 0x00, 0x00, 0x08, 0x79, 0xCC};
    char buffer[4096];
    const double start = nowMs();
    for (int i = 0; i < polls; ++i) {
        if (write(fd, request, sizeof request) != ssize_t(sizeof request))
            _exit(1);
        long got = 0;
        while (got < 6) {
            pollfd fds[2] = {{interrupt[0], POLLIN, 0}, {fd, POLLIN, 0}};
            if (poll(fds, 2, 200) <= 0)
                break;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            got += n > 0 ? n : 0;
        }
        const double left = start + double(i + 1) * periodMs - nowMs();
        if (left > 0) {
            pollfd fds[2] = {{interrupt[0], POLLIN, 0}, {fd, POLLIN, 0}};
            poll(fds, 2, int(left));
        }
        const int length = std::snprintf(buffer, sizeof buffer, "%d %ld\n", i, got);
        if (write(out, buffer, size_t(length)) != length)
            _exit(1);
    }
    _exit(0);
}

} // namespace

// What one contender costs: the CPU of a run of n exchanges and of a run of one, their
// difference per exchange beyond the first (what an exchange costs once running, start-up left
// out on both sides), and the one-exchange run itself (start-up, one exchange included).
struct Cost {
    int exchanges = 0;
    double runMs = 0, oneMs = 0;
    long peakKb = 0;
    double perExchangeUs() const { return exchanges > 1 ? (runMs - oneMs) * 1000 / (exchanges - 1) : -1; }
    double withStartUs() const { return exchanges > 0 ? runMs * 1000 / exchanges : -1; }
};

// Counts korvant-cli's exchange lines (they start with their time, "12:00:01.250  ...") and the
// accepted ones.
void countExchanges(const std::string &path, int &exchanges, int &accepted)
{
    exchanges = accepted = 0;
    FILE *f = fopen(path.c_str(), "r");
    char line[4096];
    while (f && fgets(line, sizeof line, f)) {
        const std::string l(line);
        if (l.size() > 2 && l[2] == ':') {
            ++exchanges;
            accepted += l.find("  OK  ") != std::string::npos;
        }
    }
    if (f)
        fclose(f);
}

double ratio(double a, double b)
{
    return b > 0 ? a / b : -1.0;
}

// korvant-cli poll, mbpoll and the floor at one period, on the simulator's device; prints their
// lines.
void pollFigures(const std::string &device, const std::string &d, int polls, int periodMs)
{
    const auto cliRun = [&](int count, rusage &usage) {
        const double start = nowMs();
        reap(spawn({cliPath, "poll", "KV5510ADAM", "--period", std::to_string(periodMs), "--count",
                    std::to_string(count), "--quiet", "--port", device},
                   d, d + "/cli.out"),
             &usage);
        return nowMs() - start;
    };
    // korvant-cli poll: one exchange, then N polls of eight inputs.
    Cost cli;
    rusage usage{};
    int one = 0, accepted = 0;
    cliRun(1, usage);
    countExchanges(d + "/cli.out", one, accepted);
    cli.oneMs = cpuMs(usage);
    const double cliWallMs = cliRun(polls, usage);
    cli.runMs = cpuMs(usage);
    cli.peakKb = usage.ru_maxrss;
    countExchanges(d + "/cli.out", cli.exchanges, accepted);

    // mbpoll: the same request (eight discrete inputs from 0), once (-1), then at the same period
    // for as long as korvant-cli polled.
    const std::string mbOut = d + "/mbpoll.out";
    const std::vector<std::string> mbArgs{"/usr/bin/mbpoll", "-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-t",
                                          "1", "-r", "1", "-c", "8", "-l", std::to_string(periodMs), "-o", "0.2"};
    Cost mb;
    {
        std::vector<std::string> args = mbArgs;
        args.insert(args.end(), {"-1", device});
        reap(spawn(args, d, mbOut), &usage);
        mb.oneMs = cpuMs(usage);
        args = mbArgs;
        args.push_back(device);
        const pid_t mbpoll = spawn(args, d, mbOut);
        usleep(useconds_t(cliWallMs * 1000));
        kill(mbpoll, SIGINT);
        reap(mbpoll, &usage);
        mb.runMs = cpuMs(usage);
        mb.peakKb = usage.ru_maxrss;
        mb.exchanges = countLines(mbOut, "-- Polling");
    }

    // The floor, once and as many exchanges as korvant-cli made.
    Cost fl;
    fl.exchanges = cli.exchanges;
    for (const int n : {1, cli.exchanges}) {
        const pid_t floor = fork();
        if (floor == 0)
            floorLoop(device, n, periodMs, d + "/floor.out");
        reap(floor, &usage);
        (n == 1 ? fl.oneMs : fl.runMs) = cpuMs(usage);
    }

    std::printf("korvant-cli poll: %d exchanges (%d accepted) at %d ms, CPU %.1f us per exchange once running "
                "(%.1f us with start-up), start-up and one exchange %.2f ms, peak RSS %.1f MB (goal <= 12)\n",
                cli.exchanges, accepted, periodMs, cli.perExchangeUs(), cli.withStartUs(), cli.oneMs,
                cli.peakKb / 1024.0);
    std::printf("mbpoll:           %d polls at %d ms, CPU %.1f us per exchange once running (%.1f us with start-up), "
                "start-up and one exchange %.2f ms, peak RSS %.1f MB\n",
                mb.exchanges, periodMs, mb.perExchangeUs(), mb.withStartUs(), mb.oneMs, mb.peakKb / 1024.0);
    std::printf("floor (korvant-cli's system calls, no other work): CPU %.1f us per exchange once running "
                "(%.1f us with its fork), one exchange %.2f ms, %.2f x mbpoll\n",
                fl.perExchangeUs(), fl.withStartUs(), fl.oneMs, ratio(fl.perExchangeUs(), mb.perExchangeUs()));
    std::printf("ratio korvant-cli / mbpoll, once running: %.2f (with start-up %.2f)\n",
                ratio(cli.perExchangeUs(), mb.perExchangeUs()), ratio(cli.withStartUs(), mb.withStartUs()));
    std::printf("ratio korvant-cli / floor, once running: %.2f (goal <= 1.5; with start-up %.2f)\n",
                ratio(cli.perExchangeUs(), fl.perExchangeUs()), ratio(cli.withStartUs(), fl.withStartUs()));
}

int main(int argc, char **argv)
{
    int polls = 300, periodMs = 0; // 0: 20, 50 and 100 ms in turn
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::string(argv[i]) == "--polls")
            polls = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "--period")
            periodMs = std::atoi(argv[i + 1]);
        else if (std::string(argv[i]) == "--cli")
            cliPath = argv[i + 1];
    }
    QTemporaryDir dir;
    const std::string d = dir.path().toStdString();
    QDir(dir.path()).mkdir(QStringLiteral("sys"));
    const pid_t sim = spawn({KV_SIM_PATH, "--dir", d, "--port", "1", "--module", "5510:1:2", "--quiet"}, d, d + "/sim.out");
    const QString link = dir.filePath(QStringLiteral("sys/COM1"));
    for (int i = 0; i < 200 && !QFileInfo(link).isSymLink(); ++i)
        usleep(20000);
    if (!QFileInfo(link).isSymLink()) {
        std::fprintf(stderr, "korvant-sim did not start\n");
        kill(sim, SIGKILL);
        reap(sim, nullptr);
        return 1;
    }
    const std::string device = QFileInfo(link).symLinkTarget().toStdString();

    for (const int p : periodMs > 0 ? std::vector<int>{periodMs} : std::vector<int>{20, 50, 100})
        pollFigures(device, d, polls, p);

    // Survey of 254 addresses with one module: 253 time-outs at 9600 (70 ms each by default).
    rusage sv{};
    const double start = nowMs();
    reap(spawn({cliPath, "survey", "--quiet", "--port", device}, d, d + "/survey.out"), &sv);
    const double surveyMs = nowMs() - start;
    const double surveyBudgetMs = 254 * 70.0;

    kill(sim, SIGTERM);
    reap(sim, nullptr);

    std::printf("survey 1..254 at 9600: %.0f ms, 254 x 70 ms time-out = %.0f ms, %+.1f %% (goal within 10 %%), "
                "peak RSS %.1f MB\n",
                surveyMs, surveyBudgetMs, (surveyMs / surveyBudgetMs - 1) * 100, sv.ru_maxrss / 1024.0);
    return 0;
}
