#include "commands.h"

#include "context.h"
#include "interrupt.h"
#include "serialports.h"

namespace {

// korvant-cli ports: every serial device the system lists.
int runPorts(Context &c)
{
    const QList<SerialPortEntry> ports = listSerialPorts();
    for (const SerialPortEntry &port : ports)
        c.print(c.o.json ? jsonLine(portJson(port)) : portLine(port));
    if (ports.isEmpty())
        c.fail(ExitOk, QStringLiteral("the system lists no serial device"));
    return ExitOk;
}

// Each subcommand's function; whether it runs on the line --port names, opened first at --baud and
// --parity (so a port that cannot be opened ends it before anything is sent), and whether Ctrl+C
// stops it with what it has.
struct Run {
    Command command;
    int (*run)(Context &);
    bool onTheLine = true, stoppable = false;
};

constexpr Run kRuns[] = {
    {Command::Scan, runScan},   {Command::Read, runRead},         {Command::Write, runWrite},
    {Command::SetAddress, runSetAddress}, {Command::SetComm, runSetComm}, {Command::Poll, runPoll, true, true},
    {Command::Survey, runSurvey, true, true}, {Command::Ports, runPorts, false}, {Command::Find, runFind, true, true},
    {Command::Raw, runRaw},     {Command::Doctor, runDoctor, false}, {Command::Site, runSite, false, true},
    {Command::Checkout, runCheckout, false},
};

} // namespace

int runCommand(const CliOptions &options, QTextStream &out, QTextStream &err)
{
    Context c(options, out, err);
    for (const Run &r : kRuns) {
        if (r.command != options.command)
            continue;
        if (r.stoppable)
            Interrupt::install();
        return r.onTheLine && !c.session.open(options.line) ? int(ExitPort) : r.run(c);
    }
    return ExitUsage;
}
