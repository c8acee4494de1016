// korvant-shoot OUTDIR: takes the README's pictures of the tool at work. It runs the real windows,
// started from Main as a user would, against one simulated generic module on the in-process line,
// in a scratch working folder holding a copy of the shipped sys/ files, and saves
//   main.png                Main with a model picked
//   digital-kv5510adam.png  KV5510ADAM acquiring, two relays switched on
//   analog-kv1730adam.png   KV1730ADAM acquiring
//   setfrm.png              SetFrm after a read scan found the module
//   monitor-kv5510adam.png  the traffic monitor of KV5510ADAM's poll, one reply with a bad CRC
// Each picture is taken right after a reply was judged, so the exchange boxes are full.
// Any message box the tool would have shown means the pictures are wrong: it fails then.
#include "digitalwindow.h"
#include "toolwindows.h"
#include "analoginputwindow.h"
#include "models.h"
#include "modulewindow.h"
#include "prompt.h"
#include "setfrm.h"
#include "simline.h"
#include "simmodule.h"
#include "testwindow.h"
#include "trafficmonitor.h"
#include "trafficwindow.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QPixmap>
#include <QPointer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <type_traits>

namespace {

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

// Runs the event loop until done() holds, checking every 20 ms; false after timeoutMs.
bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    if (done())
        return true;
    QEventLoop loop;
    bool reached = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            reached = true;
            loop.quit();
        }
    });
    poll.start(20);
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    return reached;
}

bool save(QWidget *window, const QString &path)
{
    // A blinking text cursor in the focused box would show up half the time.
    if (QWidget *focused = window->focusWidget())
        focused->clearFocus();
    const QPixmap picture = window->grab();
    if (picture.isNull() || !picture.save(path, "PNG")) {
        err() << "cannot save " << path << Qt::endl;
        return false;
    }
    err() << "saved " << path << " (" << picture.width() << "x" << picture.height() << ")" << Qt::endl;
    return true;
}

// Saves the window the moment its status box shows "Communication Data Normal！" for the
// count-th time from now. The test windows empty their boxes at every tick, so a picture taken at
// an arbitrary time could show them blank.
bool saveAfterNormals(ModuleWindow *window, int count, const QString &path)
{
    int seen = 0;
    bool saved = false, done = false;
    QObject guard; // drops a pending save when this function gives up first
    const auto connection = QObject::connect(window->Text_Message, &TextBox::textChanged, window, [&] {
        if (done || window->Text_Message->toPlainText() != kDataNormal || ++seen < count)
            return;
        done = true;
        // After the handler that set the status has also filled the indicators.
        QTimer::singleShot(0, &guard, [&] { saved = save(window, path); });
    });
    const bool reached = runUntil([&] { return done && saved; }, 15000);
    QObject::disconnect(connection);
    if (!reached)
        err() << "no picture for " << path << ": status stayed \"" << window->Text_Message->toPlainText() << "\""
              << Qt::endl;
    return reached;
}

bool copySysFiles(const QString &from, const QString &to)
{
    if (!QDir().mkpath(to + QStringLiteral("/sys")))
        return false;
    for (const char *name : {"kv.ico", "set.rc", "tm.rc"}) {
        const QString file = QStringLiteral("/sys/") + QLatin1String(name);
        if (!QFile::copy(from + file, to + file)) {
            err() << "cannot copy " << from + file << Qt::endl;
            return false;
        }
    }
    return true;
}

template <typename T>
T *opened(ToolWindows &tool, const QString &model, int button)
{
    if (button == 0)
        tool.main.Combo_Model->setCurrentText(model);
    tool.main.Command1_Click(button);
    return qobject_cast<T *>(tool.registry.window(button == 0 ? model : QStringLiteral("SetFrm")));
}

// Closes a module window and lets the event loop delete it, which lets go of its port.
void closeWindow(ModuleWindow *w)
{
    QPointer<ModuleWindow> window(w);
    window->close();
    // No application event loop runs here, only the short ones of runUntil; deliver the
    // deferred delete the way the application loop would on return.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    if (!runUntil([&window] { return window.isNull(); }, 2000))
        err() << "a closed window stayed: the next one may find its port taken" << Qt::endl;
}

bool openPort(ModuleWindow *w)
{
    w->Command_Port->click();
    return runUntil([w] { return w->portIsOpen(); }, 2000);
}

// Opens a window from Main (button 0: the model's, 1: SetFrm) and its port, does what comes
// first (before), starts its read, saves it after `normals` good statuses, then does what follows
// (after) and closes it.
template <typename T>
bool shoot(ToolWindows &tool, const QString &model, int button, int normals, const QString &path,
           const std::type_identity_t<std::function<bool(T *)>> &before = {},
           const std::type_identity_t<std::function<bool(T *)>> &after = {})
{
    auto *w = opened<T>(tool, model, button);
    if (!w || !openPort(w)) {
        err() << (button == 0 ? model : QStringLiteral("SetFrm")) << " did not open its port" << Qt::endl;
        return false;
    }
    bool ok = !before || before(w);
    w->Command_OK1->click();
    ok = saveAfterNormals(w, normals, path) && ok;
    ok = (!after || after(w)) && ok;
    closeWindow(w);
    return ok;
}

// One generic module at address 1, 9600 baud, no parity: the shipped set.rc's line.
SimModule *addModule(SimBus &bus)
{
    SimModule *module = bus.addModule(0, 1, 2);
    // Registers 4..7 do not move by themselves; show the ends and middle of the 4-20 mA range.
    const std::uint16_t currents[] = {819, 2048, 3276, 4095};
    for (int i = 0; i < 4; ++i)
        module->setHolding(4 + i, currents[i]);
    return module;
}

// KV5510ADAM: relays 1 and 3 switched on and written, then acquiring; and its traffic monitor.
bool shootDigital(ToolWindows &tool, SimModule *module, const QString &out)
{
    // Digital: switch relays 1 and 3 on, write them, then acquire.
    const auto switchRelays = [](DigitalWindow *w) {
        w->DO_SHOW_Click(0);
        w->DO_SHOW_Click(2);
        w->Command_OK2->click();
        return runUntil([w] { return w->Text_Message->toPlainText() == kDataNormal; }, 5000);
    };
    // The traffic monitor of the same poll, with one reply spoiled on its way back.
    const auto saveMonitor = [module, &out](DigitalWindow *w) {
        TrafficWindow *monitor = openTrafficMonitor(w);
        module->faults.badCrc = true;
        const bool spoiled = runUntil([w] { return w->Text_Message->toPlainText() == kDataError; }, 5000);
        module->faults.badCrc = false;
        runUntil([] { return false; }, 1200); // a few good exchanges after it
        monitor->refresh();
        const bool saved = save(monitor, out + QStringLiteral("/monitor-kv5510adam.png"));
        monitor->close();
        return spoiled && saved;
    };
    return shoot<DigitalWindow>(tool, QStringLiteral("KV5510ADAM"), 0, 2, out + QStringLiteral("/digital-kv5510adam.png"),
                               switchRelays, saveMonitor);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Prompt"));
    if (argc != 2) {
        err() << "usage: korvant-shoot OUTDIR" << Qt::endl;
        return 2;
    }
    const QString out = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    if (!QDir().mkpath(out)) {
        err() << "cannot create " << out << Qt::endl;
        return 1;
    }

    QTemporaryDir work;
    if (!work.isValid() || !copySysFiles(QStringLiteral(KORVANT_SOURCE_DIR), work.path()))
        return 1;
    QDir::setCurrent(work.path());

    QStringList prompts;
    setPromptSink([&prompts](const QString &, const QString &text) {
        prompts << text;
        err() << "the tool said: " << text << Qt::endl;
    });

    SimBus bus;
    SimModule *module = addModule(bus);
    useSimulatedBus(&bus);

    ToolWindows tool;
    MainWindow &main = tool.main;
    main.show();
    main.Combo_Model->setCurrentText(QStringLiteral("KV5510ADAM"));
    runUntil([&main] { return main.isVisible(); }, 2000);
    bool ok = save(&main, out + QStringLiteral("/main.png"));

    ok = shootDigital(tool, module, out) && ok;
    ok = shoot<AnalogInputWindow>(tool, QStringLiteral("KV1730ADAM"), 0, 2, out + QStringLiteral("/analog-kv1730adam.png")) && ok;
    ok = shoot<SetFrm>(tool, QString(), 1, 1, out + QStringLiteral("/setfrm.png")) && ok;

    setPromptSink({});
    if (!prompts.isEmpty())
        ok = false;
    return ok ? 0 : 1;
}
