// korvant-find-bench: the bus finder's figures.
//  1. korvant-cli find over korvant-sim on a pseudo-terminal, on a bus of five modules (four at
//     9600,None, two of them sharing an address, one at 19200,Even; addresses spread over
//     1..254), all eight codes, addresses 1..254: what it found, and its time beside the line-time
//     bound of the probes it sent (each probe's request and reply bytes at its setting plus the
//     simulator's turnaround) and beside a sweep at 1,000 ms a probe. Three runs with the default
//     turnaround alternating with three at the simulator's own; the medians.
//  2. The same on a site's line: six modules (two sharing address 3, one at 19200,Even, one 25 ms
//     late) behind an adapter that hands bytes over every 16 ms, all eight codes, addresses 1..40,
//     the default turnaround, ten runs: how many found every module and no false note, and the
//     median time beside the line-time bound of the probes.
//  3. The Bus Finder window sweeping the same bus on the in-process line: the longest stall of
//     the event loop, and the peak resident memory beside Main's alone.
//
//   korvant-find-bench [--runs N] [--site (the site's line alone)]
#include "busfinder.h"
#include "finder.h"
#include "linesettings.h"
#include "simline.h"
#include "toolwindows.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kSimDelayMs = 5;
// model:address:code, as korvant-sim takes them.
const QStringList kModules = {"5510:17:2", "5530:17:2", "1730:128:2", "5540:251:2", "7710:90:7"};

double median(QList<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? -1 : v[v.size() / 2];
}

double peakRssMb()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return r.ru_maxrss / 1024.0;
}

struct CliRun {
    double ms = 0;
    int status = -1;
    QString out;
};

CliRun runFind(const QString &dir, int turnaroundMs, const QStringList &more = {})
{
    QProcess p;
    p.setWorkingDirectory(dir);
    QElapsedTimer clock;
    clock.start();
    p.start(QStringLiteral(KV_CLI_PATH), QStringList{"find", "--quiet", "--turnaround", QString::number(turnaroundMs)} + more);
    p.waitForFinished(600000);
    return {double(clock.nsecsElapsed()) / 1e6, p.exitCode(), QString::fromUtf8(p.readAllStandardOutput())};
}

// The probes of a sweep of all eight codes: a broadcast each (twice where nothing answers), then
// 254 probes at each setting
// where anything answered. A pseudo-terminal carries no parity: each module answers at both
// parities of its baud rate.
double lineBoundMs(const QList<int> &heard)
{
    qint64 us = 0;
    for (int code = 1; code <= 8; ++code)
        us += (heard.contains(code) ? 1 : 2) * (lineTimeUs(code, 19) + kSimDelayMs * 1000);
    for (int code : heard)
        us += 254 * (lineTimeUs(code, 19) + kSimDelayMs * 1000);
    us += lineTimeUs(heard.first(), 19) + kSimDelayMs * 1000; // the shared address asked again
    return us / 1000.0;
}


// Whether korvant-sim linked its pseudo-terminal as DIR/sys/COM1 within ten seconds (said when not).
bool simulatorStarted(const QString &dir)
{
    const QString link = dir + QStringLiteral("/sys/COM1");
    for (int i = 0; i < 500 && !QFileInfo(link).isSymLink(); ++i)
        usleep(20000);
    if (!QFileInfo(link).isSymLink())
        std::fprintf(stderr, "korvant-sim did not start\n");
    return QFileInfo(link).isSymLink();
}

int cliFigures(int runs)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("sys"));
    // The simulator logs each request it gets: a run that missed a broadcast (a reply later than
    // the turnaround allows, on a loaded machine) sends 254 probes fewer and is left out.
    QStringList args{"--dir", dir.path(), "--port", "1"};
    for (const QString &m : kModules)
        args << "--module" << m << "--fault" << QStringLiteral("delay=%1").arg(kSimDelayMs);
    QProcess sim;
    const QString log = dir.filePath(QStringLiteral("sim.log"));
    sim.setStandardErrorFile(log);
    sim.start(QStringLiteral(KV_SIM_PATH), args);
    const auto requests = [&log] {
        QFile f(log);
        return f.open(QIODevice::ReadOnly) ? int(f.readAll().count(" <- ")) : 0;
    };
    if (!simulatorStarted(dir.path()))
        return 1;
    // The silent settings' broadcasts and the shared address are asked twice.
    const int probes = 8 + 4 + 4 * 254 + 1;
    QList<double> byDefault, bySim;
    CliRun last;
    int incomplete = 0;
    // Whether the run sent every probe, and its time if it did.
    const auto run = [&](int turnaroundMs, QList<double> &times) {
        const int before = requests();
        const CliRun r = runFind(dir.path(), turnaroundMs);
        const bool complete = requests() - before >= probes;
        if (complete)
            times << r.ms;
        else
            ++incomplete;
        if (complete || last.status < 0)
            last = r; // what a complete run found is what is shown
    };
    for (int i = 0; i < runs; ++i) {
        run(20, byDefault);
        run(kSimDelayMs + 3, bySim);
    }
    sim.terminate();
    sim.waitForFinished(5000);

    const double bound = lineBoundMs({2, 6, 3, 7});
    std::printf("korvant-cli find, 5 modules (two sharing address 17), 8 codes, addresses 1..254, simulator turnaround %d ms\n",
                kSimDelayMs);
    std::printf("  exit %d (6: shared address found); found:\n", last.status);
    for (const QString &line : last.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        std::printf("    %s\n", qPrintable(line));
    std::printf("  %d probes; line-time bound %.0f ms; a sweep at 1,000 ms a probe: %.0f s; %d of %d runs missed a "
                "setting and are left out\n", probes, bound, probes * 1.0, incomplete, 2 * runs);
    std::printf("  --turnaround %d: median of %d %.0f ms = %.2f x bound (goal <= 1.25), %.0f x faster than 1,000 ms a probe\n",
                kSimDelayMs + 3, int(bySim.size()), median(bySim), median(bySim) / bound, probes * 1000.0 / median(bySim));
    std::printf("  --turnaround 20 (default, for USB adapters): median %.0f ms = %.2f x bound, %.0f x faster than 1,000 ms a probe\n",
                median(byDefault), median(byDefault) / bound, probes * 1000.0 / median(byDefault));
    return 0;
}

int siteFigures(int runs)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("sys"));
    QProcess sim;
    sim.setStandardErrorFile(QProcess::nullDevice()); // its log would fill an unread pipe and stop it
    sim.start(QStringLiteral(KV_SIM_PATH), {"--dir", dir.path(), "--port", "1", "--latency", "16", "--module", "5510:3",
                                            "--module", "1730:3", "--module", "5530:9", "--module", "7710:40:7", "--fault",
                                            "delay=2", "--module", "5520:20", "--fault", "exception", "--module", "5540:30",
                                            "--fault", "delay=25"});
    if (!simulatorStarted(dir.path()))
        return 1;
    // What a true sweep prints (the pty carries no parity: KV7710ADAM answers at 19200,None too).
    const QString expected = QStringLiteral(
        "address 3  code -  baud 9600  parity None  note shared address? (also at 9600,Even,8,1)\n"
        "address 9  code 2  baud 9600  parity None  model KV5530ADAM  note answers at 9600,Even,8,1 too; its code says 9600,None,8,1\n"
        "address 20  code -  baud 9600  parity None  note exception 1 (also at 9600,Even,8,1)\n"
        "address 30  code 2  baud 9600  parity None  model KV5540ADAM  note answers at 9600,Even,8,1 too; its code says 9600,None,8,1\n"
        "address 40  code 7  baud 19200  parity Even  model KV7710ADAM  note answers at 19200,None,8,1 too; its code says 19200,Even,8,1\n");
    static const QRegularExpression response(QStringLiteral("  response [0-9.]+ ms"));
    QList<double> times;
    int right = 0;
    QString wrong;
    for (int i = 0; i < runs; ++i) {
        const CliRun r = runFind(dir.path(), 20, {"--to", "40"});
        times << r.ms;
        const QString found = QString(r.out).remove(response).replace(QStringLiteral("  model -"), QString());
        if (found == expected && r.status == 6)
            ++right;
        else
            wrong = QStringLiteral("exit %1\n%2").arg(r.status).arg(found);
    }
    sim.terminate();
    sim.waitForFinished(5000);
    // Each probe's bytes at its setting: the broadcasts (the four silent settings' asked twice,
    // and the two at 9600, whose collision comes after the first wait), 40 addresses at the four
    // settings that hear something, and the shared address asked again at both 9600 settings.
    qint64 us = 0;
    for (int code = 1; code <= 8; ++code)
        us += lineTimeUs(code, 19) * (code == 3 || code == 7 ? 1 : 2);
    for (int code : {2, 3, 6, 7})
        us += 40 * lineTimeUs(code, 19);
    us += lineTimeUs(2, 19) + lineTimeUs(6, 19);
    std::printf("korvant-cli find on a site's line (--latency 16, six modules, two sharing address 3, one 25 ms late), "
                "8 codes, addresses 1..40, default turnaround\n");
    std::printf("  every module found and no false note (exit 6 for the shared address): %d of %d runs (goal: all)\n", right, runs);
    if (!wrong.isEmpty())
        std::printf("  a wrong run printed:\n%s", qPrintable(wrong));
    std::printf("  median %.0f ms (spread %.0f..%.0f) beside a line-time bound of %.0f ms: %.2f x\n", median(times),
                *std::min_element(times.begin(), times.end()), *std::max_element(times.begin(), times.end()), us / 1000.0,
                median(times) / (us / 1000.0));
    return 0;
}

int windowFigures()
{
    QTemporaryDir dir;
    QDir(dir.path()).mkdir(QStringLiteral("sys"));
    QDir::setCurrent(dir.path());
    SimBus bus;
    for (const QString &m : kModules) {
        const QStringList f = m.split(QLatin1Char(':'));
        bus.addModule(f[0].toInt(), std::uint8_t(f[1].toInt()), f[2].toInt())->faults.delayMs = kSimDelayMs;
    }
    useSimulatedBus(&bus);
    ToolWindows tool;
    tool.main.show();
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
    const double mainMb = peakRssMb();
    tool.main.openBusFinder();
    auto *w = qobject_cast<BusFinderWindow *>(tool.registry.window(QStringLiteral("BusFinder")));
    if (!w)
        return 1;
    w->Combo_Turnaround->setEditText(QString::number(kSimDelayMs + 3));
    QElapsedTimer clock, gap;
    qint64 longestStallMs = 0;
    QTimer beat;
    beat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&beat, &QTimer::timeout, [&] {
        longestStallMs = std::max(longestStallMs, gap.restart() - 10);
    });
    clock.start();
    gap.start();
    beat.start(10);
    w->Command_Start_Click();
    while (w->finder().running())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    beat.stop();
    std::printf("Bus Finder window, the same bus on the in-process line (it carries parity), all codes, 1..254:\n");
    std::printf("  %.1f s, %d rows, %d probes; longest event-loop stall %lld ms (goal <= 50)\n", clock.elapsed() / 1000.0,
                int(w->finder().rows().size()), w->finder().probesSent(), longestStallMs);
    std::printf("  peak RSS: Main alone %.1f MB, with the finder after the sweep %.1f MB, +%.1f MB (goal <= 10)\n", mainMb,
                peakRssMb(), peakRssMb() - mainMb);
    w->close();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i)
        if (QByteArray(argv[i]) == "--runs")
            runs = std::max(1, std::atoi(argv[i + 1]));
    double load[3] = {};
    if (getloadavg(load, 3) > 0)
        std::printf("load average at start: %.2f %.2f %.2f\n", load[0], load[1], load[2]);
    const bool siteOnly = app.arguments().contains(QStringLiteral("--site"));
    int rc = siteOnly ? 0 : cliFigures(runs);
    if (rc == 0)
        rc = siteFigures(10);
    if (rc != 0 || siteOnly)
        return rc;
    return windowFigures();
}
