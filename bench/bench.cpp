// korvant-bench: how well and how cheaply the tool polls a module over a real serial line (a
// pseudo-terminal served by korvant-sim), how fast it starts, how much memory it holds, and how
// long the parameter scan takes, each beside a baseline measured in the same run. Prints one
// Markdown table. Run it through scripts/bench.sh; --quick polls 3 s instead of 30 s per case.
//
// The windows are measured in child processes of this program (--poll-child, --scan-child), so
// every figure belongs to a process that does nothing but what the tool does.
#include "toolwindows.h"
#include "models.h"
#include "modulewindow.h"
#include "prompt.h"
#include "qserialline.h"
#include "recordingline.h"
#include "setfrm.h"
#include "simline.h"
#include "startup_probe.h"
#include "testwindow.h"
#include "trafficmonitor.h"
#include "modbus.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLineEdit>
#include <QElapsedTimer>
#include <QBackingStore>
#include <QPainter>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdarg>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

extern char **environ;

namespace {

// The class of the windows' status box, whatever it is: the bench counts its changes.
using TextBox = std::remove_pointer_t<decltype(ModuleWindow::Text_Message)>;

// ---------------------------------------------------------------------------------------------
// Small helpers

qint64 cpuUs(const rusage &r)
{
    return qint64(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1000000 + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
}

// CPU time of the X server the run started (KORVANT_BENCH_XPID), in µs; 0 without one. The
// scheduler's own count of the time on a CPU (schedstat, ns) where the kernel keeps it, else the
// user and system ticks of /proc/<pid>/stat.
qint64 serverCpuUs()
{
    const QByteArray pid = qgetenv("KORVANT_BENCH_XPID");
    if (pid.isEmpty())
        return 0;
    std::ifstream sched("/proc/" + pid.toStdString() + "/schedstat");
    long long ns = -1;
    if (sched >> ns && ns >= 0)
        return ns / 1000;
    std::ifstream stat("/proc/" + pid.toStdString() + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string f;
    long long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> f; ++i) {
        if (i == 14)
            utime = std::atoll(f.c_str());
        if (i == 15)
            stime = std::atoll(f.c_str());
    }
    return (utime + stime) * 1000000 / sysconf(_SC_CLK_TCK);
}

// Runs the event loop for ms, so that what a window's showing sent to the server is done with.
void settleFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

// Nearest-rank percentile (q in 0..1) of unsorted values; 0 for none.
double percentile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const auto rank = std::size_t(std::ceil(q * double(v.size())));
    return v[std::clamp<std::size_t>(rank, 1, v.size()) - 1];
}

std::string readText(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeText(const std::string &path, const std::string &text)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

// "key=value" words anywhere in text.
std::map<std::string, std::string> keyValues(const std::string &text)
{
    std::map<std::string, std::string> kv;
    std::istringstream in(text);
    std::string word;
    while (in >> word) {
        const auto eq = word.find('=');
        if (eq != std::string::npos && eq > 0)
            kv[word.substr(0, eq)] = word.substr(eq + 1);
    }
    return kv;
}

double number(const std::map<std::string, std::string> &kv, const std::string &key, double missing = -1)
{
    const auto it = kv.find(key);
    return it == kv.end() ? missing : std::atof(it->second.c_str());
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...)
{
    char buf[512];
    va_list args;
    va_start(args, fmt);
    std::vsnprintf(buf, sizeof buf, fmt, args);
    va_end(args);
    return buf;
}

void sleepMs(int ms)
{
    timespec ts{ms / 1000, long(ms % 1000) * 1000000L};
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

// Message boxes would wait for a click that never comes offscreen; keep their texts instead.
QStringList &recordedPrompts()
{
    static QStringList prompts;
    return prompts;
}

void recordPrompts()
{
    setPromptSink([](const QString &, const QString &text) { recordedPrompts() << text; });
}

void printPrompts()
{
    for (const QString &text : recordedPrompts())
        std::fprintf(stderr, "korvant-bench: the window said: %s\n", qPrintable(text));
}

// ---------------------------------------------------------------------------------------------
// Child: the floor of a window's exchange on this machine. The wake-ups a polling window has (a
// precise timer each period writing the request, a notifier reading the reply as it comes, a
// judgement timer a time-out after the write) and nothing else of the tool; with draw, three
// boxes emptied at the tick and filled at the judgement, drawn as ready pictures straight into
// a shown window's backing store with one painter a pass, the cheapest way a widget shows a text.

int runFloorChild(int argc, char **argv, const char *device, int baud, const QByteArray &request, int periodMs,
                  int timeoutMs, int seconds, bool draw)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int fd = open(device, O_RDWR | O_NOCTTY | O_NONBLOCK);
    termios t{};
    if (fd < 0 || tcgetattr(fd, &t) != 0) {
        std::fprintf(stderr, "korvant-bench: cannot open %s\n", device);
        return 1;
    }
    cfmakeraw(&t);
    cfsetspeed(&t, baud == 38400 ? B38400 : B9600);
    tcsetattr(fd, TCSANOW, &t);

    QWidget window;
    window.resize(400, 200);
    window.show();
    const QSize boxSize(145, 40);
    QPixmap empty(boxSize), filled[3];
    empty.fill(Qt::white);
    const QString texts[3] = {HexText(request), QStringLiteral("01 02 01 00 A1 88 "), kDataNormal};
    for (int i = 0; i < 3; ++i) {
        filled[i] = empty.copy();
        QPainter p(&filled[i]);
        p.drawText(filled[i].rect().adjusted(4, 4, -4, -4), Qt::TextWrapAnywhere, texts[i]);
    }
    const auto show = [&](bool full) {
        if (!draw)
            return;
        QBackingStore *store = window.backingStore();
        QRegion region;
        for (int i = 0; i < 3; ++i)
            region += QRect(QPoint(10, 10 + 50 * i), boxSize);
        store->beginPaint(region);
        {
            QPainter p(store->paintDevice());
            for (int i = 0; i < 3; ++i)
                p.drawPixmap(10, 10 + 50 * i, full ? filled[i] : empty);
        }
        store->endPaint();
        store->flush(region, window.windowHandle());
    };

    const int expected = expectedReplyLength(request);
    QByteArray reply;
    int exchanges = 0, answered = 0;
    QTimer tick, judge;
    tick.setTimerType(Qt::PreciseTimer);
    tick.setInterval(periodMs);
    judge.setTimerType(Qt::PreciseTimer);
    judge.setSingleShot(true);
    judge.setInterval(timeoutMs);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        show(false);
        reply.clear();
        if (write(fd, request.constData(), std::size_t(request.size())) == request.size())
            ++exchanges;
        judge.start();
    });
    QSocketNotifier notifier(fd, QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] { readWaiting(fd, false, reply); });
    QObject::connect(&judge, &QTimer::timeout, [&] {
        const bool accepted = judgeReply(reply, request, expected).accepted();
        answered += accepted;
        show(accepted);
    });
    rusage before{}, after{};
    qint64 serverBefore = 0, serverAfter = 0;
    QTimer::singleShot(seconds * 1000 + periodMs / 2, Qt::PreciseTimer, &app, [&] { tick.stop(); });
    QTimer::singleShot(seconds * 1000 + periodMs, Qt::PreciseTimer, &app, [&] {
        getrusage(RUSAGE_SELF, &after);
        serverAfter = serverCpuUs();
        QCoreApplication::quit();
    });
    // What showing the window cost the server is no part of the exchanges.
    settleFor(300);
    getrusage(RUSAGE_SELF, &before);
    serverBefore = serverCpuUs();
    tick.start();
    app.exec();
    std::printf("exchanges=%d answered=%d cpu_us=%lld server_us=%lld\n", exchanges, answered,
                cpuUs(after) - cpuUs(before), serverAfter - serverBefore);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Child: one window polling over the real serial line, started the way a technician does it.

int runPollChild(int argc, char **argv, const QString &model, int periodMs, int seconds)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));

    LineTimes times;
    times.writesNs.reserve(std::size_t(seconds) * 1000 / std::size_t(periodMs) + 16);
    times.replyNs.reserve(times.writesNs.capacity());
    setSerialLineFactory([&times] {
        return std::make_unique<RecordingLine>(makeProgramLine(), &times);
    });
    recordPrompts();

    // As app/main.cpp builds the program.
    ToolWindows tool;
    WindowRegistry &registry = tool.registry;
    MainWindow &main = tool.main;
    main.show();

    // Pick the model, "Function Testing", "Open Port"; "Acquisition" follows below.
    main.Combo_Model->setCurrentIndex(main.Combo_Model->findText(model));
    main.Command1[0]->click();
    ModuleWindow *window = registry.window(model);
    auto *acquisition = window ? window->findChild<QPushButton *>(QStringLiteral("Command_OK1")) : nullptr;
    if (!acquisition) {
        std::fprintf(stderr, "korvant-bench: no acquisition window for %s\n", qPrintable(model));
        printPrompts();
        return 1;
    }
    window->Command_Port->click();
    if (!window->portIsOpen() || !window->findChild<SerialLine *>(QStringLiteral("MSComm1"))->isOpen()) {
        std::fprintf(stderr, "korvant-bench: %s could not open its port\n", qPrintable(model));
        printPrompts();
        return 1;
    }

    // KORVANT_BENCH_MONITOR=1: the same poll with the window's traffic monitor open.
    if (qEnvironmentVariableIntValue("KORVANT_BENCH_MONITOR") == 1)
        openTrafficMonitor(window);

    // Every tick empties the status box first, so each exchange is one change from empty to its
    // outcome; counting changes (not signals) keeps repeated notifications from counting twice.
    int normal = 0;
    int error = 0;
    QString last;
    QObject::connect(window->Text_Message, &TextBox::textChanged, window, [&] {
        const QString text = window->Text_Message->toPlainText();
        if (text == last)
            return;
        last = text;
        if (text == kDataNormal)
            ++normal;
        else if (text == kDataError)
            ++error;
    });

    // Settled before the run's timers start, so that the settling does not eat into the run.
    settleFor(300);
    // Stopping half a period after the last tick that belongs to the run avoids a race between
    // that tick and the stop; one more period lets its time-out be judged.
    const int stopMs = seconds * 1000 + periodMs / 2;
    QTimer::singleShot(stopMs, Qt::PreciseTimer, window, [acquisition] {
        if (acquisition->text() == kStopCaption)
            acquisition->click();
    });
    // Measured before quitting: quit() closes the windows, which is no part of polling.
    rusage after{};
    qint64 endNs = 0, serverBefore = 0, serverAfter = 0;
    QTimer::singleShot(stopMs + periodMs, Qt::PreciseTimer, &app, [&] {
        getrusage(RUSAGE_SELF, &after);
        serverAfter = serverCpuUs();
        endNs = steadyNowNs();
        QCoreApplication::quit();
    });

    rusage before{};
    getrusage(RUSAGE_SELF, &before);
    serverBefore = serverCpuUs();
    const qint64 startNs = steadyNowNs();
    acquisition->click();
    app.exec();

    std::vector<double> errorsMs;
    for (std::size_t i = 1; i < times.writesNs.size(); ++i)
        errorsMs.push_back(std::fabs(double(times.writesNs[i] - times.writesNs[i - 1]) / 1e6 - periodMs));
    std::vector<double> replyMs;
    for (const qint64 ns : times.replyNs)
        replyMs.push_back(double(ns) / 1e6);
    const std::size_t sent = times.writesNs.size();
    const double meanPeriodMs =
        sent > 1 ? double(times.writesNs.back() - times.writesNs.front()) / 1e6 / double(sent - 1) : 0;

    std::printf("expected=%d sent=%zu normal=%d error=%d cpu_us=%lld wall_us=%lld hwm_kb=%ld "
                "err_med_ms=%.3f err_p99_ms=%.3f err_max_ms=%.3f mean_period_ms=%.4f "
                "reply_med_ms=%.3f reply_p99_ms=%.3f prompts=%lld server_us=%lld\n",
                seconds * 1000 / periodMs, sent, normal, error, cpuUs(after) - cpuUs(before),
                (endNs - startNs) / 1000, peakResidentKb(), percentile(errorsMs, 0.5),
                percentile(errorsMs, 0.99), percentile(errorsMs, 1.0), meanPeriodMs, percentile(replyMs, 0.5),
                percentile(replyMs, 0.99), qlonglong(recordedPrompts().size()), serverAfter - serverBefore);
    std::fflush(stdout);
    printPrompts();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Child: at rest. A module window with its port open and no acquisition (or, with model "caret",
// a window holding one focused drop-down box: the caret's blink alone, the floor of the rest);
// CPU of the program and of the X server over the seconds, and the event loop's wake-ups.

int runIdleChild(int argc, char **argv, const QString &model, int seconds)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));
    recordPrompts();
    std::unique_ptr<ToolWindows> tool;
    std::unique_ptr<QWidget> alone;
    QWidget *focus = nullptr;
    if (model == QLatin1String("caret")) {
        alone = std::make_unique<QWidget>();
        alone->resize(300, 100);
        auto *box = new ChoiceBox(QStringLiteral("Combo1"), alone.get());
        box->addItems({QStringLiteral("COM1"), QStringLiteral("COM2")});
        box->setGeometry(20, 30, 120, 24);
        alone->show();
        alone->activateWindow();
        box->setFocus();
        focus = alone.get();
    } else {
        tool = std::make_unique<ToolWindows>();
        tool->main.show();
        tool->main.Combo_Model->setCurrentIndex(tool->main.Combo_Model->findText(model));
        tool->main.Command1[0]->click();
        ModuleWindow *window = tool->registry.window(model);
        if (!window) {
            std::fprintf(stderr, "korvant-bench: no window for %s\n", qPrintable(model));
            return 1;
        }
        window->Command_Port->click();
        if (!window->portIsOpen()) {
            std::fprintf(stderr, "korvant-bench: %s could not open its port\n", qPrintable(model));
            printPrompts();
            return 1;
        }
        window->activateWindow();
        focus = window;
    }
    settleFor(1000);
    QWidget *caret = QApplication::focusWidget();
    std::fprintf(stderr, "korvant-bench: at rest, focus on %s in %s\n",
                 caret ? qPrintable(caret->parentWidget() ? caret->parentWidget()->objectName() : caret->objectName()) : "nothing",
                 qPrintable(focus->objectName()));
    int wakeUps = 0;
    QObject::connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::awake, [&] { ++wakeUps; });
    rusage before{}, after{};
    qint64 serverAfter = 0;
    QTimer::singleShot(seconds * 1000, Qt::PreciseTimer, &app, [&] {
        getrusage(RUSAGE_SELF, &after);
        serverAfter = serverCpuUs();
        QCoreApplication::quit();
    });
    getrusage(RUSAGE_SELF, &before);
    const qint64 serverBefore = serverCpuUs();
    app.exec();
    std::printf("seconds=%d cpu_us=%lld server_us=%lld wakeups=%d\n", seconds, cpuUs(after) - cpuUs(before),
                serverAfter - serverBefore, wakeUps);
    return 0;
}

// ---------------------------------------------------------------------------------------------
// Child: repeated read scans of SetFrm on the in-process simulated bus, which (unlike a
// pseudo-terminal) carries parity, so a module at 38400 Even answers only the eighth step.

int runScanChild(int argc, char **argv, int scans)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));
    recordPrompts();

    SimBus bus;
    bus.addModule(5510, 1, 8);
    useSimulatedBus(&bus);

    auto *w = static_cast<SetFrm *>(createSetFrm());
    w->show();
    w->Command_Port->click();
    if (!w->portIsOpen()) {
        std::fprintf(stderr, "korvant-bench: SetFrm could not open its port\n");
        printPrompts();
        return 1;
    }

    std::vector<double> scanMs;
    std::vector<int> errorsBefore;
    int errors = 0;
    int wrongEnds = 0;
    qint64 startNs = 0;
    const auto startScan = [&] {
        errors = 0;
        startNs = steadyNowNs();
        w->Command_OK1->click();
    };
    QString last;
    QObject::connect(w->Text_Message, &TextBox::textChanged, w, [&] {
        const QString text = w->Text_Message->toPlainText();
        if (text == last)
            return;
        last = text;
        if (text == kDataError) {
            if (++errors >= 8) { // nothing found: the setting under test is wrong
                ++wrongEnds;
                QCoreApplication::quit();
            }
            return;
        }
        if (text != kDataNormal)
            return;
        scanMs.push_back(double(steadyNowNs() - startNs) / 1e6);
        errorsBefore.push_back(errors);
        if (w->Combo2->currentText() != QLatin1String("38400") || w->Combo3->currentText() != QLatin1String("Even"))
            ++wrongEnds;
        if (int(scanMs.size()) < scans)
            QTimer::singleShot(0, w, startScan);
        else
            QCoreApplication::quit();
    });
    QTimer::singleShot(0, w, startScan);
    QTimer::singleShot(scans * 3000 + 5000, &app, &QCoreApplication::quit); // a scan that hangs
    app.exec();

    std::string list;
    for (const double ms : scanMs)
        list += format("%s%.2f", list.empty() ? "" : ",", ms);
    std::printf("scans=%zu wrong=%d med_ms=%.2f min_ms=%.2f max_ms=%.2f errors_before=%d list_ms=%s\n",
                scanMs.size(), wrongEnds, percentile(scanMs, 0.5), percentile(scanMs, 0.0),
                percentile(scanMs, 1.0), errorsBefore.empty() ? -1 : errorsBefore.front(), list.c_str());
    std::fflush(stdout);
    printPrompts();
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The run: processes of its own, no Qt event loop.

pid_t g_simulator = 0;

void onStopSignal(int sig)
{
    if (g_simulator > 0)
        kill(g_simulator, SIGTERM);
    std::signal(sig, SIG_DFL);
    raise(sig);
}

// Starts argv with stdout (and stderr, unless errToo is false) to outPath, or inherited when empty.
pid_t spawn(const std::vector<std::string> &args, const std::string &outPath, bool errToo = true)
{
    std::vector<char *> argv;
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!outPath.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (errToo)
            posix_spawn_file_actions_adddup2(&actions, 1, 2);
    }
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
        std::fprintf(stderr, "korvant-bench: cannot start %s: %s\n", argv[0], std::strerror(rc));
        return 0;
    }
    return pid;
}

// Waits for pid; its resource use (CPU time of the whole process) goes to *usage.
int reap(pid_t pid, rusage *usage = nullptr)
{
    int status = 0;
    rusage ru{};
    while (wait4(pid, &status, 0, &ru) < 0 && errno == EINTR) {
    }
    if (usage)
        *usage = ru;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

struct Simulator {
    std::string dir;

    bool start(int model, int code)
    {
        const std::string link = dir + "/sys/COM1";
        g_simulator = spawn({KV_SIM_PATH, "--dir", dir, "--port", "1", "--module",
                             format("%d:1:%d", model, code), "--quiet"},
                            dir + "/sim.log");
        for (int i = 0; i < 250 && g_simulator > 0; ++i) {
            std::error_code ec;
            if (std::filesystem::is_symlink(link, ec) && std::filesystem::exists(link, ec))
                return true;
            sleepMs(20);
        }
        std::fprintf(stderr, "korvant-bench: korvant-sim did not link %s:\n%s", link.c_str(),
                     readText(dir + "/sim.log").c_str());
        return false;
    }
    void stop()
    {
        if (g_simulator <= 0)
            return;
        kill(g_simulator, SIGTERM);
        reap(g_simulator);
        g_simulator = 0;
    }
    ~Simulator() { stop(); }
};

struct PollCase {
    const char *model;
    int modelNumber;
    int replyBytes;
    const char *mbpollType; // -t and -c of mbpoll for the same request
    int mbpollCount;
    int periodMs;
};

// Line time of one exchange (request of 8 bytes and the reply, 10 bits a byte) in ms.
double lineMs(int replyBytes, int baud)
{
    return (8 + replyBytes) * 10 * 1000.0 / baud;
}

std::string timingFile(const PollCase &c, int overtimeMs)
{
    // The shipped intervals, with the lines of the window under test replaced.
    int lines[20] = {200, 500, 300, 200, 500, 200, 300, 500, 300, 200,
                     500, 300, 200, 300, 500, 200, 200, 300, 500, 500};
    if (c.modelNumber == 5510) {
        lines[5] = overtimeMs;
        lines[7] = c.periodMs;
    } else if (c.modelNumber == 7710) { // the analog cycle of the combined window
        lines[15] = overtimeMs;
        lines[18] = c.periodMs;
    } else {
        lines[3] = overtimeMs;
        lines[4] = c.periodMs;
    }
    std::string text;
    for (int i = 0; i < 20; ++i)
        text += format("Line %-6d%5d\r\n", i + 1, lines[i]);
    return text;
}

struct Row {
    std::string figure, setting, tool, baseline, ratio, goal, met;
};

std::string cell(const std::string &s)
{
    return s.empty() ? "–" : s;
}

void printTable(const std::vector<Row> &rows)
{
    std::printf("| Figure | Case | Tool | Baseline | Tool / baseline | Goal | Met |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const Row &r : rows)
        std::printf("| %s | %s | %s | %s | %s | %s | %s |\n", r.figure.c_str(), r.setting.c_str(),
                    r.tool.c_str(), cell(r.baseline).c_str(), cell(r.ratio).c_str(), cell(r.goal).c_str(),
                    cell(r.met).c_str());
}

std::string selfPath()
{
    char buf[4096];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
}

std::string machineLine()
{
    std::string model;
    int cpus = 0;
    std::istringstream cpuinfo(readText("/proc/cpuinfo"));
    for (std::string line; std::getline(cpuinfo, line);) {
        if (line.rfind("model name", 0) == 0 && model.empty())
            model = line.substr(line.find(':') + 2);
        if (line.rfind("processor", 0) == 0)
            ++cpus;
    }
    long memKb = 0;
    std::istringstream meminfo(readText("/proc/meminfo"));
    for (std::string line; std::getline(meminfo, line);)
        if (line.rfind("MemTotal:", 0) == 0)
            memKb = std::atol(line.c_str() + 9);
    utsname u{};
    uname(&u);
    return format("%s, %d CPUs, %.1f GiB, Linux %s, Qt %s", model.c_str(), cpus, memKb / 1048576.0, u.release,
                  qVersion());
}

// The 1-minute load average of /proc/loadavg.
std::string loadAverage()
{
    std::istringstream in(readText("/proc/loadavg"));
    std::string one;
    in >> one;
    return one.empty() ? std::string("?") : one;
}

// Starts Xvfb on a display of its own (as tests/run_on_x.sh does) and points the children at it;
// its pid, or 0.
pid_t startXServer(const std::string &dir)
{
    const std::string display = dir + "/xdisplay";
    const pid_t pid = spawn({"/bin/sh", "-c",
                             "exec Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>'" + display + "' 2>'" + dir
                                 + "/xvfb.log'"},
                            "");
    for (int i = 0; i < 100 && pid > 0; ++i) {
        const std::string number = readText(display);
        if (!number.empty() && number.back() == '\n') {
            setenv("DISPLAY", (":" + number.substr(0, number.size() - 1)).c_str(), 1);
            setenv("QT_QPA_PLATFORM", "xcb", 1);
            setenv("KORVANT_BENCH_XPID", std::to_string(pid).c_str(), 1);
            return pid;
        }
        sleepMs(100);
    }
    std::fprintf(stderr, "korvant-bench: Xvfb did not start:\n%s", readText(dir + "/xvfb.log").c_str());
    if (pid > 0) {
        kill(pid, SIGTERM);
        reap(pid);
    }
    return 0;
}

// On the X server: the KV5510ADAM window polling at 20 ms to 1 s beside its drawn floor, then at
// rest beside the caret alone; the CPU of the program and of the server over the same time.
bool runOnX(const std::string &dir, const std::string &self, bool quick, std::vector<Row> &rows)
{
    const pid_t server = startXServer(dir);
    if (server <= 0)
        return false;
    struct Stop {
        pid_t pid;
        ~Stop()
        {
            kill(pid, SIGTERM);
            reap(pid);
        }
    } stopServer{server};
    bool failed = false;
    for (const int period : {20, 50, 100, 500, 1000}) {
        const PollCase c{"KV5510ADAM", 5510, 6, "1", 8, period};
        // At least 20 exchanges quick, 30 in a full run.
        const int seconds = std::max(quick ? 3 : 30, (quick ? 20 : 30) * period / 1000);
        const int overtime = period / 2;
        const int baud = lineMs(c.replyBytes, 9600) + 2 <= overtime ? 9600 : 38400;
        const std::string setting = format("X: %s, %d ms, %d Bd, %d s", c.model, period, baud, seconds);
        std::fprintf(stderr, "korvant-bench: polling %s\n", setting.c_str());
        writeText(dir + "/sys/tm.rc", timingFile(c, overtime));
        writeText(dir + "/sys/set.rc", format("1\r\n%d\r\nNone\r\n", baud));
        Simulator sim{dir};
        if (!sim.start(c.modelNumber, baud == 9600 ? 2 : 4))
            return false;
        const pid_t tool = spawn({self, "--poll-child", c.model, std::to_string(period), std::to_string(seconds)},
                                 dir + "/poll.out");
        const int rc = tool > 0 ? reap(tool) : 1;
        const auto kv = keyValues(readText(dir + "/poll.out"));
        const std::string request = readRequest(1, 0x02, 0, 8).toHex().toStdString();
        const pid_t floorPid = spawn({self, "--floor-child", dir + "/sys/COM1", std::to_string(baud), request,
                                      std::to_string(period), std::to_string(overtime), std::to_string(seconds), "draw"},
                                     dir + "/floor.out");
        const int floorRc = floorPid > 0 ? reap(floorPid) : 1;
        const auto fk = keyValues(readText(dir + "/floor.out"));
        sim.stop();
        const double normal = number(kv, "normal"), answered = number(fk, "answered");
        if (rc != 0 || normal <= 0 || floorRc != 0 || answered <= 0) {
            std::fprintf(stderr, "korvant-bench: %s failed:\n%s%s", setting.c_str(), readText(dir + "/poll.out").c_str(),
                         readText(dir + "/floor.out").c_str());
            failed = true;
            continue;
        }
        const double toolUs = number(kv, "cpu_us") / normal, toolServerUs = number(kv, "server_us") / normal;
        const double floorUs = number(fk, "cpu_us") / answered, floorServerUs = number(fk, "server_us") / answered;
        const double ratio = (toolUs + toolServerUs) / (floorUs + floorServerUs);
        rows.push_back({"6 CPU per exchange on X", setting,
                        format("%.1f µs + X server %.1f µs = %.1f µs (%.0f of %.0f accepted)", toolUs, toolServerUs,
                               toolUs + toolServerUs, normal, number(kv, "expected")),
                        format("drawn floor %.1f µs + X server %.1f µs = %.1f µs", floorUs, floorServerUs,
                               floorUs + floorServerUs),
                        format("%.2f", ratio), period >= 500 ? "≤ 1.25" : "", period >= 500 ? (ratio <= 1.25 ? "yes" : "no") : ""});
    }
    // At rest: no simulator needed, the port is a pseudo-terminal's either way.
    Simulator sim{dir};
    if (!sim.start(5510, 2))
        return false;
    writeText(dir + "/sys/set.rc", "1\r\n9600\r\nNone\r\n");
    double perSecond[2][3] = {};
    const int seconds = quick ? 10 : 30;
    for (int i = 0; i < 2; ++i) {
        const pid_t pid = spawn({self, "--idle-child", i == 0 ? "KV5510ADAM" : "caret", std::to_string(seconds)},
                                dir + "/idle.out");
        const int rc = pid > 0 ? reap(pid) : 1;
        const auto kv = keyValues(readText(dir + "/idle.out"));
        if (rc != 0 || number(kv, "seconds") <= 0) {
            std::fprintf(stderr, "korvant-bench: at rest failed:\n%s", readText(dir + "/idle.out").c_str());
            failed = true;
            continue;
        }
        std::fprintf(stderr, "%s", readText(dir + "/idle.out").c_str());
        perSecond[i][0] = number(kv, "cpu_us") / seconds;
        perSecond[i][1] = number(kv, "server_us") / seconds;
        perSecond[i][2] = number(kv, "wakeups") / seconds;
    }
    sim.stop();
    const double total = perSecond[0][0] + perSecond[0][1], floor = perSecond[1][0] + perSecond[1][1];
    const double bound = std::max(500.0, 1.25 * floor);
    rows.push_back({"6 At rest on X", format("X: KV5510ADAM window, port open, no acquisition, %d s", seconds),
                    format("%.1f µs/s + X server %.1f µs/s = %.3f ms/s; %.1f wake-ups/s", perSecond[0][0],
                           perSecond[0][1], total / 1000, perSecond[0][2]),
                    format("caret alone %.1f µs/s + X server %.1f µs/s = %.3f ms/s; %.1f wake-ups/s", perSecond[1][0],
                           perSecond[1][1], floor / 1000, perSecond[1][2]),
                    format("%.2f", floor > 0 ? total / floor : 0), format("≤ %.3f ms/s", bound / 1000),
                    total <= bound ? "yes" : "no"});
    return !failed;
}

// 3 and 4: start-up and memory with Main shown, beside a minimal Widgets program that shows one
// line of text; runs alternate. mainKb: Main's peak resident memory of each run. False when the
// programs gave no figures.
bool measureStartup(const std::string &dir, int runs, std::vector<Row> &rows, std::vector<double> &mainKb)
{
    std::vector<double> mainMs, minimalMs, minimalKb;
    for (int i = 0; i < runs; ++i) {
        for (const bool tool : {true, false}) {
            const std::string out = dir + "/startup.out";
            const pid_t pid = spawn({tool ? KV_STARTUP_MAIN_PATH : KV_STARTUP_MINIMAL_PATH,
                                     std::to_string(monotonicNs())},
                                    out, false);
            if (pid <= 0 || reap(pid) != 0)
                continue;
            const auto kv = keyValues(readText(out));
            if (number(kv, "shown_us") <= 0)
                continue;
            (tool ? mainMs : minimalMs).push_back(number(kv, "shown_us") / 1000.0);
            (tool ? mainKb : minimalKb).push_back(number(kv, "hwm_kb"));
        }
    }
    if (mainMs.empty() || minimalMs.empty()) {
        std::fprintf(stderr, "korvant-bench: the start-up programs gave no figures\n");
        return false;
    }
    const double ratio = percentile(mainMs, 0.5) / percentile(minimalMs, 0.5);
    rows.push_back({"3 Start-up", format("process start to first show event, median of %zu", mainMs.size()),
                    format("Main %.1f ms (%.1f..%.1f)", percentile(mainMs, 0.5), percentile(mainMs, 0),
                           percentile(mainMs, 1)),
                    format("one-line window %.1f ms (%.1f..%.1f)", percentile(minimalMs, 0.5),
                           percentile(minimalMs, 0), percentile(minimalMs, 1)),
                    format("%.2f", ratio), "≤ 1.25", ratio <= 1.25 ? "yes" : "no"});
    const double mainMb = percentile(mainKb, 1.0) / 1024.0;
    rows.push_back({"4 Memory", "peak resident (VmHWM), Main shown and painted", format("%.1f MB", mainMb),
                    format("one-line window %.1f MB", percentile(minimalKb, 1.0) / 1024.0),
                    format("%.2f", mainMb / (percentile(minimalKb, 1.0) / 1024.0)), "< 60 MB", mainMb < 60 ? "yes" : "no"});
    return true;
}

// One poll of the KV5510ADAM window through korvant-sim on a loopback TCP port, serving as a
// serial device server (--tcp) or a Modbus TCP gateway (--mbap), COM1 a file naming it: the
// child's figures, nothing when it failed (said on stderr).
std::map<std::string, std::string> tcpPoll(const std::string &dir, const std::string &self, const PollCase &c,
                                           const char *as, int pollSeconds)
{
    std::error_code ec;
    std::filesystem::remove(dir + "/sys/COM1", ec);
    g_simulator = spawn({KV_SIM_PATH, as, "127.0.0.1:0", "--module", "5510:1:2", "--quiet"}, dir + "/sim.log");
    std::string target;
    for (int i = 0; i < 250 && g_simulator > 0 && target.empty(); ++i) {
        const std::string log = readText(dir + "/sim.log");
        const auto at = log.find("serving ");
        if (at != std::string::npos && log.find('\n', at) != std::string::npos)
            target = log.substr(at + 8, log.find('\n', at) - at - 8);
        else
            sleepMs(20);
    }
    writeText(dir + "/sys/COM1", target + "\n");
    const std::string out = dir + "/poll.out";
    const pid_t tool = target.empty() ? -1
                                      : spawn({self, "--poll-child", c.model, std::to_string(c.periodMs), std::to_string(pollSeconds)}, out);
    const int rc = tool > 0 ? reap(tool) : 1;
    if (g_simulator > 0) {
        kill(g_simulator, SIGTERM);
        reap(g_simulator);
        g_simulator = 0;
    }
    std::filesystem::remove(dir + "/sys/COM1", ec);
    auto kv = keyValues(readText(out));
    if (rc != 0 || kv.count("sent") == 0) {
        std::fprintf(stderr, "korvant-bench: the %s poll failed:\n%s", as, readText(out).c_str());
        kv.clear();
    }
    return kv;
}

// The poll through a serial device server and through a Modbus TCP gateway, three runs of each in
// turn: the first run's fidelity rows, and the medians of CPU per exchange, MBAP's against RTU
// over TCP's (goal: within 10 %). No line time: the server's side of the line is not simulated.
bool tcpPollRows(const std::string &dir, const std::string &self, int pollSeconds, std::vector<Row> &rows)
{
    const PollCase c{"KV5510ADAM", 5510, 6, "1", 8, 20};
    const int overtime = c.periodMs / 2;
    writeText(dir + "/sys/tm.rc", timingFile(c, overtime));
    writeText(dir + "/sys/set.rc", "1\r\n9600\r\nNone\r\n");
    std::vector<double> us[2];
    bool failed = false;
    for (int run = 0; run < 3; ++run)
        for (int k = 0; k < 2; ++k) {
            const char *as = k ? "--mbap" : "--tcp";
            const std::string setting = format("%s, %d ms, time-out %d ms, %s to korvant-sim %s (no line time)", c.model,
                                               c.periodMs, overtime, k ? "MBAP" : "RTU over TCP", as);
            std::fprintf(stderr, "korvant-bench: polling %s, run %d\n", setting.c_str(), run + 1);
            const auto kv = tcpPoll(dir, self, c, as, pollSeconds);
            const double expected = number(kv, "expected"), sent = number(kv, "sent"), normal = number(kv, "normal");
            failed = failed || kv.empty();
            if (normal > 0)
                us[k].push_back(number(kv, "cpu_us") / normal);
            if (run > 0 || kv.empty())
                continue;
            rows.push_back({"1 Poll fidelity", setting,
                            format("sent %.0f, accepted %.0f; period error median %.3f ms, p99 %.3f ms; "
                                   "reply after %.1f ms; CPU %.1f µs an exchange",
                                   sent, normal, number(kv, "err_med_ms"), number(kv, "err_p99_ms"),
                                   number(kv, "reply_med_ms"), normal > 0 ? number(kv, "cpu_us") / normal : 0),
                            format("%.0f expected", expected), format("%.3f", expected > 0 ? normal / expected : 0),
                            "every request sent and accepted", sent == expected && normal == expected ? "yes" : "no"});
        }
    const double rtu = percentile(us[0], 0.5), mbap = percentile(us[1], 0.5);
    rows.push_back({"2 CPU per exchange over TCP", format("KV5510ADAM, 20 ms, median of %zu and %zu alternating runs", us[0].size(), us[1].size()),
                    format("MBAP %.1f µs", mbap), format("RTU over TCP %.1f µs", rtu), format("%.3f", rtu > 0 ? mbap / rtu : 0),
                    "≤ 1.10", rtu > 0 && mbap <= 1.1 * rtu ? "yes" : "no"});
    return !failed;
}

int runAll(bool quick, bool onX, bool startupOnly, bool tcpOnly)
{
    const int pollSeconds = quick ? 3 : 30;
    const int startupRuns = 10;
    const int scans = 10;

    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);

    char pattern[] = "/tmp/korvant-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("korvant-bench: mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    std::error_code ec;
    std::filesystem::create_directory(dir + "/sys");
    // Qt wants a private runtime folder; without one every child warns about it.
    std::filesystem::create_directory(dir + "/runtime");
    std::filesystem::permissions(dir + "/runtime", std::filesystem::perms::owner_all, ec);
    setenv("XDG_RUNTIME_DIR", (dir + "/runtime").c_str(), 1);
    std::filesystem::copy_file(std::string(KV_SOURCE_DIR) + "/sys/kv.ico", dir + "/sys/kv.ico", ec);
    writeText(dir + "/sys/set.rc", "1\r\n9600\r\nNone\r\n");
    writeText(dir + "/sys/tm.rc", timingFile({"KV5510ADAM", 5510, 6, "1", 8, 500}, 200));
    if (chdir(dir.c_str()) != 0) {
        std::perror("korvant-bench: chdir");
        return 1;
    }
    const std::string self = selfPath();
    const std::string loadAtStart = loadAverage();
    std::vector<Row> fidelity, cost, other;
    long busiestKb = 0;
    std::string busiest;
    bool failed = false;

    std::fprintf(stderr, "korvant-bench: %s; working in %s; %d s a case\n", machineLine().c_str(), dir.c_str(),
                 pollSeconds);

    if (startupOnly) {
        std::vector<Row> rows;
        std::vector<double> mainKb;
        const bool done = measureStartup(dir, startupRuns, rows, mainKb);
        std::printf("Machine: %s\nRun: start-up only; load average %s at the start, %s at the end\n\n",
                    machineLine().c_str(), loadAtStart.c_str(), loadAverage().c_str());
        printTable(rows);
        if (chdir("/") == 0)
            std::filesystem::remove_all(dir, ec);
        return done ? 0 : 1;
    }
    if (tcpOnly) {
        std::vector<Row> rows;
        const bool done = tcpPollRows(dir, self, pollSeconds, rows);
        std::printf("Machine: %s\nRun: the TCP polls, %d s a run; load average %s at the start, %s at the end\n\n",
                    machineLine().c_str(), pollSeconds, loadAtStart.c_str(), loadAverage().c_str());
        printTable(rows);
        if (chdir("/") == 0)
            std::filesystem::remove_all(dir, ec);
        return done ? 0 : 1;
    }
    if (onX) {
        std::vector<Row> rows;
        const bool done = runOnX(dir, self, quick, rows);
        std::printf("Machine: %s\nRun: on Xvfb, %s; load average %s at the start, %s at the end\n\n",
                    machineLine().c_str(), quick ? "quick" : "full", loadAtStart.c_str(), loadAverage().c_str());
        printTable(rows);
        if (chdir("/") == 0)
            std::filesystem::remove_all(dir, ec);
        return done ? 0 : 1;
    }

    // 1 and 2: poll fidelity and cost per exchange.
    // The KV7710ADAM polls its six analog inputs ("Acquisition" of the analog panel).
    const PollCase cases[] = {
        {"KV5510ADAM", 5510, 6, "1", 8, 20},  {"KV5510ADAM", 5510, 6, "1", 8, 50},  {"KV5510ADAM", 5510, 6, "1", 8, 100},
        {"KV1730ADAM", 1730, 21, "4", 8, 20}, {"KV1730ADAM", 1730, 21, "4", 8, 50}, {"KV1730ADAM", 1730, 21, "4", 8, 100},
        {"KV7710ADAM", 7710, 17, "4", 6, 20}, {"KV7710ADAM", 7710, 17, "4", 6, 50}, {"KV7710ADAM", 7710, 17, "4", 6, 100},
    };
    for (const PollCase &c : cases) {
        const int overtime = c.periodMs / 2;
        // 9600 baud where the exchange's line time leaves 2 ms of the time-out for the rest.
        const int baud = lineMs(c.replyBytes, 9600) + 2 <= overtime ? 9600 : 38400;
        const int code = baud == 9600 ? 2 : 4;
        const std::string setting = format("%s, %d ms, time-out %d ms, %d Bd (line %.1f ms)", c.model, c.periodMs,
                                           overtime, baud, lineMs(c.replyBytes, baud));
        std::fprintf(stderr, "korvant-bench: polling %s\n", setting.c_str());
        writeText(dir + "/sys/tm.rc", timingFile(c, overtime));
        writeText(dir + "/sys/set.rc", format("1\r\n%d\r\nNone\r\n", baud));

        Simulator sim{dir};
        if (!sim.start(c.modelNumber, code))
            return 1;
        const std::string out = dir + "/poll.out";
        const pid_t tool = spawn({self, "--poll-child", c.model, std::to_string(c.periodMs),
                                  std::to_string(pollSeconds)},
                                 out);
        const int rc = tool > 0 ? reap(tool) : 1;
        const auto kv = keyValues(readText(out));
        if (rc != 0 || kv.count("sent") == 0) {
            std::fprintf(stderr, "korvant-bench: the poll of %s failed:\n%s", c.model, readText(out).c_str());
            failed = true;
            continue;
        }
        const double expected = number(kv, "expected");
        const double sent = number(kv, "sent");
        const double normal = number(kv, "normal");
        const bool allAccepted = sent == expected && normal == expected;
        fidelity.push_back({"1 Poll fidelity", setting,
                            format("sent %.0f, accepted %.0f; period error median %.3f ms, p99 %.3f ms; "
                                   "reply after %.1f ms",
                                   sent, normal, number(kv, "err_med_ms"), number(kv, "err_p99_ms"),
                                   number(kv, "reply_med_ms")),
                            format("%.0f expected", expected), format("%.3f", expected > 0 ? normal / expected : 0),
                            "every request sent and accepted", allAccepted ? "yes" : "no"});
        const double toolUs = normal > 0 ? number(kv, "cpu_us") / normal : 0;
        if (number(kv, "hwm_kb") > busiestKb) {
            busiestKb = long(number(kv, "hwm_kb"));
            busiest = format("%s at %d ms", c.model, c.periodMs);
        }

        // The floor of the same exchange (see runFloorChild): the event loop alone, then with
        // three boxes drawn.
        double floorUs[2] = {0, 0};
        const std::string request =
            readRequest(1, c.mbpollType[0] == '1' ? 0x02 : 0x03, 0, std::uint16_t(c.mbpollCount)).toHex().toStdString();
        for (int draw = 0; draw < 2; ++draw) {
            const std::string floorOut = dir + "/floor.out";
            const pid_t pid = spawn({self, "--floor-child", dir + "/sys/COM1", std::to_string(baud), request,
                                     std::to_string(c.periodMs), std::to_string(overtime), std::to_string(pollSeconds),
                                     draw ? "draw" : "loop"},
                                    floorOut);
            const int floorRc = pid > 0 ? reap(pid) : 1;
            const auto floorKv = keyValues(readText(floorOut));
            if (floorRc == 0 && number(floorKv, "answered") > 0)
                floorUs[draw] = number(floorKv, "cpu_us") / number(floorKv, "answered");
            else
                std::fprintf(stderr, "korvant-bench: the floor of %s failed:\n%s", c.model, readText(floorOut).c_str());
        }

        // The same requests from mbpoll (libmodbus), same line, period and time-out.
        const std::string mbOut = dir + "/mbpoll.out";
        const pid_t mb = spawn({"/usr/bin/mbpoll", "-m", "rtu", "-a", "1", "-b", std::to_string(baud), "-P", "none",
                                "-t", c.mbpollType, "-r", "1", "-c", std::to_string(c.mbpollCount), "-l",
                                std::to_string(c.periodMs), "-o",
                                format("%.3f", overtime / 1000.0), dir + "/sys/COM1"},
                               mbOut);
        rusage mbUsage{};
        if (mb > 0) {
            sleepMs(pollSeconds * 1000);
            kill(mb, SIGINT);
            reap(mb, &mbUsage);
        }
        sim.stop();
        long transmitted = 0, received = 0, errors = 0;
        const std::string mbText = readText(mbOut);
        const auto stats = mbText.find("frames transmitted");
        if (stats != std::string::npos) {
            const auto lineStart = mbText.rfind('\n', stats);
            std::sscanf(mbText.c_str() + (lineStart == std::string::npos ? 0 : lineStart + 1),
                        "%ld frames transmitted, %ld received, %ld errors", &transmitted, &received, &errors);
        }
        const double mbUs = received > 0 ? double(cpuUs(mbUsage)) / double(received) : 0;
        cost.push_back({"2 CPU per exchange", format("%s, %d ms, %d Bd", c.model, c.periodMs, baud),
                        format("%.1f µs (%.0f exchanges)", toolUs, normal),
                        received > 0 ? format("mbpoll %.1f µs (%ld of %ld polls answered)", mbUs, received, transmitted)
                                     : std::string("mbpoll gave no figures"),
                        mbUs > 0 ? format("%.1f", toolUs / mbUs) : std::string(), "≤ 1",
                        mbUs > 0 && toolUs <= mbUs ? "yes" : "no"});
        if (floorUs[0] > 0 && floorUs[1] > 0)
            cost.push_back({"2 Floor of an exchange", format("%s, %d ms, %d Bd", c.model, c.periodMs, baud),
                            format("event loop alone %.1f µs; with three boxes drawn %.1f µs", floorUs[0], floorUs[1]),
                            mbUs > 0 ? format("mbpoll %.1f µs", mbUs) : std::string(),
                            mbUs > 0 ? format("%.1f (drawn)", floorUs[1] / mbUs) : std::string(), "", ""});
    }

    failed = !tcpPollRows(dir, self, pollSeconds, fidelity) || failed;

    std::vector<double> mainKb;
    failed = !measureStartup(dir, startupRuns, other, mainKb) || failed;
    if (busiestKb > 0) {
        const double mb = busiestKb / 1024.0;
        other.push_back({"4 Memory", format("peak resident, Main then %s polling %d s (highest of the polls)",
                                            busiest.c_str(), pollSeconds),
                         format("%.1f MB", mb),
                         mainKb.empty() ? std::string() : format("Main shown %.1f MB", percentile(mainKb, 1.0) / 1024.0),
                         mainKb.empty() ? std::string() : format("%.2f", mb / (percentile(mainKb, 1.0) / 1024.0)),
                         "< 60 MB", mb < 60 ? "yes" : "no"});
    }

    // 5: the read scan, in-process simulated bus.
    {
        const std::string out = dir + "/scan.out";
        const pid_t pid = spawn({self, "--scan-child", std::to_string(scans)}, out);
        const int rc = pid > 0 ? reap(pid) : 1;
        const auto kv = keyValues(readText(out));
        if (rc != 0 || number(kv, "scans") <= 0) {
            std::fprintf(stderr, "korvant-bench: the scan failed:\n%s", readText(out).c_str());
            failed = true;
        } else {
            const double expected = 8 * 150 + 120;
            const double med = number(kv, "med_ms");
            const bool right = number(kv, "wrong") == 0 && number(kv, "scans") == scans;
            other.push_back({"5 Scan", format("SetFrm \"Read\" to parameters shown, module code 8 (38400 Even), "
                                              "in-process simulated bus, %.0f scans",
                                              number(kv, "scans")),
                             format("median %.1f ms, spread %.1f..%.1f ms; %.0f errors before the find", med,
                                    number(kv, "min_ms"), number(kv, "max_ms"), number(kv, "errors_before")),
                             format("8 × 150 + 120 = %.0f ms", expected), format("%.3f", med / expected),
                             "about 8 × 150 ms", right && std::fabs(med - expected) < 30 ? "yes" : "no"});
        }
    }

    // Other work on the machine shows in the timing figures; the load says how much there was.
    std::printf("Machine: %s\nRun: %s, %d s a poll case; load average %s at the start, %s at the end\n\n",
                machineLine().c_str(), quick ? "quick" : "full", pollSeconds, loadAtStart.c_str(),
                loadAverage().c_str());
    std::vector<Row> rows = fidelity;
    rows.insert(rows.end(), cost.begin(), cost.end());
    rows.insert(rows.end(), other.begin(), other.end());
    printTable(rows);

    if (chdir("/") == 0)
        std::filesystem::remove_all(dir, ec);
    return failed ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--poll-child" && argc == 5)
        return runPollChild(argc, argv, QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    if (mode == "--floor-child" && argc == 9)
        return runFloorChild(argc, argv, argv[2], std::atoi(argv[3]), QByteArray::fromHex(argv[4]), std::atoi(argv[5]),
                             std::atoi(argv[6]), std::atoi(argv[7]), std::string(argv[8]) == "draw");
    if (mode == "--scan-child" && argc == 3)
        return runScanChild(argc, argv, std::atoi(argv[2]));
    if (mode == "--idle-child" && argc == 4)
        return runIdleChild(argc, argv, QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    bool quick = false, onX = false, startupOnly = false, tcpOnly = false, known = true;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        quick = quick || a == "--quick";
        onX = onX || a == "--x";
        startupOnly = startupOnly || a == "--startup";
        tcpOnly = tcpOnly || a == "--tcp";
        known = known && (a == "--quick" || a == "--x" || a == "--startup" || a == "--tcp");
    }
    if (!known) {
        std::fprintf(stderr, "usage: korvant-bench [--quick] [--x] [--startup] [--tcp]\n"
                             "Polls the KV5510ADAM, KV1730ADAM and KV7710ADAM windows over korvant-sim for 30 s a case "
                             "(--quick: 3 s),\nbeside mbpoll, then times start-up, memory and the SetFrm scan, "
                             "and prints one table.\n--x: on an Xvfb of its own instead, the KV5510ADAM window at 20 ms "
                             "to 1 s and at rest, with the X server's CPU.\n--startup: only the start-up and memory rows.\n"
                             "--tcp: only the polls through a device server and a Modbus TCP gateway.\n");
        return mode == "--help" || mode == "-h" ? 0 : 2;
    }
    return runAll(quick, onX, startupOnly, tcpOnly);
}
