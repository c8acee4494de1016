#include "commands.h"

#include "context.h"
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

struct Run {
    Command command;
    int (*run)(Context &);
};

constexpr Run kRuns[] = {
    {Command::Scan, runScan},     {Command::Read, runRead},     {Command::Write, runWrite},   {Command::SetAddress, runSetAddress},
    {Command::SetComm, runSetComm}, {Command::Poll, runPoll}, {Command::Survey, runSurvey}, {Command::Ports, runPorts},
    {Command::Find, runFind},     {Command::Raw, runRaw},       {Command::Doctor, runDoctor},
};

} // namespace

int runCommand(const CliOptions &options, QTextStream &out, QTextStream &err)
{
    Context c(options, out, err);
    for (const Run &r : kRuns)
        if (r.command == options.command)
            return r.run(c);
    return ExitUsage;
}
