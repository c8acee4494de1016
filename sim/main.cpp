// korvant-sim: simulated KV modules on a pseudo-terminal, for end-to-end tests and for trying the
// tool without hardware. See --help.
#include "models.h"
#include "ptybus.h"
#include "simmodule.h"
#include "simoptions.h"

#include <QDir>
#include <QStringList>

#include <csignal>
#include <cstdio>

namespace {

volatile std::sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

void print(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
}

void addModule(SimBus &bus, const SimModuleSetup &setup)
{
    SimModule *m = bus.addModule(setup.model, std::uint8_t(setup.address), setup.code);
    m->faults = setup.faults;
    for (int i = 0; i < 32; ++i) {
        if (setup.inputs)
            m->setDiscreteInput(i, (*setup.inputs >> i) & 1);
        if (setup.coils)
            m->setCoil(i, (*setup.coils >> i) & 1);
    }
    for (int i = 0; i < setup.holding.size(); ++i)
        m->setHolding(i, setup.holding[i]);
}

// SIGINT, SIGTERM and SIGHUP ask the bus to stop. They stay blocked except while waiting, so a
// stop request is never missed; returns the mask to wait with.
sigset_t catchStopSignals()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&blocked, s);
    sigset_t waitMask;
    sigprocmask(SIG_BLOCK, &blocked, &waitMask);
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return waitMask;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QString::fromLocal8Bit(argv[i]));
    SimOptions options;
    const QString error = parseSimOptions(args, options);
    if (!error.isEmpty()) {
        print(QStringLiteral("korvant-sim: %1\nTry korvant-sim --help.\n").arg(error));
        return 2;
    }
    // What was asked for goes to stdout; the log and the errors to stderr.
    if (options.help || options.version) {
        const QByteArray text = (options.help ? simUsage() : QStringLiteral("korvant-sim %1\n").arg(QStringLiteral(KORVANT_VERSION))).toLocal8Bit();
        std::fwrite(text.constData(), 1, std::size_t(text.size()), stdout);
        return 0;
    }
    if (options.modules.isEmpty())
        options.modules.append(SimModuleSetup{});

    SimBus bus;
    for (const SimModuleSetup &setup : std::as_const(options.modules))
        addModule(bus, setup);
    const sigset_t waitMask = catchStopSignals();

    PtyBus pty(&bus);
    pty.setLogging(!options.quiet);
    pty.setEcho(options.echo);
    pty.setRealTime(options.realTime);
    pty.setLatencyMs(options.latencyMs);
    pty.setGateway(options.mbap, options.gatewaySilent);
    QString why;
    if (options.tcpHost) {
        if (!pty.listen(*options.tcpHost, options.tcpPort, &why)) {
            print(QStringLiteral("korvant-sim: %1\n").arg(why));
            return 1;
        }
        print(QStringLiteral("korvant-sim: serving %1://%2:%3\n").arg(options.mbap ? "mbap" : "tcp", *options.tcpHost).arg(pty.tcpPort()));
    } else {
        if (!pty.open(&why)) {
            print(QStringLiteral("korvant-sim: %1\n").arg(why));
            return 1;
        }
        const QString linkPath = QDir(options.dir).absoluteFilePath(QStringLiteral("sys/COM%1").arg(options.port));
        if (!pty.link(linkPath, &why)) {
            print(QStringLiteral("korvant-sim: %1\n").arg(why));
            return 1;
        }
        print(QStringLiteral("korvant-sim: COM%1 is %2, linked as %3\n").arg(options.port).arg(pty.slaveName(), linkPath));
    }
    for (const SimModule *m : bus.modules()) {
        print(QStringLiteral("korvant-sim: %1 at address %2, code %3 (%4)\n")
                  .arg(m->modelNumber() == 0 ? QStringLiteral("generic module") : modelName(m->modelNumber()))
                  .arg(m->address()).arg(m->code()).arg(communicationParameterText(m->code()).section(u',', 0, 1)));
    }
    const int rc = pty.run(&stopRequested, &waitMask);
    pty.unlink();
    print(QStringLiteral("korvant-sim: stopped\n"));
    return rc;
}
