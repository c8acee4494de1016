// korvant-cli's command line as plain values: what to do, on which port, at which settings. No
// port is touched here, so the parsing and its messages are tested as tables.
#pragma once

#include "linesettings.h"
#include "modbus.h"
#include "models.h"
#include "ports.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

enum class Command { None, Scan, Read, Write, SetAddress, SetComm, Poll, Survey, Ports, Find, Raw, Doctor, Site, Checkout };

// The exit status of korvant-cli.
enum ExitStatus {
    ExitOk = 0,
    ExitUsage = 2,     // a command line that makes no sense; nothing was sent
    ExitPort = 3,      // the port could not be opened
    ExitNoReply = 4,   // no valid reply (a time-out or a refused reply; a scan or survey finding nothing)
    ExitException = 5, // the module answered with a Modbus exception
    ExitShared = 6,    // several modules answered at once: a shared address or a collision
    ExitSiteDiffers = 7, // site check: the line does not match the site
    ExitNotLogged = 8, // a poll's --csv lost rows: not every value was logged
};

struct CliOptions {
    Command command = Command::None;
    const ModelRow *model = nullptr; // read, write, poll
    QString argument;                // set-address NEW, set-comm TEXT
    QString port = QStringLiteral("COM1"); // doctor: empty without --port
    bool portGiven = false;          // --port was given (site check and poll: else the site's)
    QString sysFolder;               // where COMn is looked up (toolSysFolder); empty: ./sys
    LineSettings line;               // --baud, --parity; 8 data bits, 1 stop bit
    int address = 1;                 // the first of addresses
    QList<int> addresses{1};         // read, poll: --address LIST, each in turn
    int retries = 0;                 // read, write, poll: a time-out is asked again this often
    int timeoutMs = 0;               // 0: defaultTimeoutMs for the command's longest reply
    bool quiet = false;
    bool echo = false;               // the adapter echoes every request: set it aside before judging
    bool json = false;
    bool help = false;
    bool version = false;
    // write: the outputs to switch on (1-based; every other goes off), or the analog output's
    // slider position in thousandths of a milliampere.
    std::optional<QList<int>> on;
    std::optional<int> outputPosition;
    // poll
    int periodMs = 500;
    int count = 0; // 0: until stopped
    QString csvPath; // not empty: the values also go to this CSV value log
    // survey, find
    int from = kFirstModuleAddress, to = kLastModuleAddress;
    // find: the communication-parameter codes to sweep, in code order, and the wait added to each
    // probe's line time
    QList<int> codes{1, 2, 3, 4, 5, 6, 7, 8};
    int turnaroundMs = 20;
    // raw: the frame to send as given (its CRC is appended unless noCrc)
    QByteArray frame;
    bool noCrc = false;
    // set-address: the module to write to (-1: broadcast)
    int toAddress = -1;
    // site ACTION FILE: argument is new, check or poll; --sweep: check lists the modules the site lacks
    QString file;
    bool sweep = false;
    // checkout report JOURNAL: where the report goes as PDF and HTML (csvPath: as CSV)
    QString pdfPath, htmlPath;
};

// The exit status that wins when results are mixed: the worst, 3 before 8 before 5 before 4
// before 0.
int worstStatus(int a, int b);

struct ParsedCommandLine {
    CliOptions options;
    QString error; // not empty: a usage error, said this way
};

// arguments as main() gets them, the program name first. Options may stand before or after the
// subcommand.
ParsedCommandLine parseCommandLine(const QStringList &arguments);
// The help; sysFolder, when given, is said as the sys folder of this run.
QString helpText(const QString &sysFolder = {});

// Why --port could not be opened, naming the port and its device once each: "port COM1
// (/dev/ttyUSB0) is in use: held by minicom (PID 812)"; a reason that begins with the device
// stands for it ("port COM0 does not exist", "port COM2: /dev/ttyUSB1 may not be opened ...").
QString portFailureText(const QString &port, const QString &device, const QString &what, const QString &reason);

// The time-out of one exchange when --timeout is not given: the time the request and its reply
// take on the line at these settings (start, data, parity and stop bits of every byte), rounded
// up to a millisecond, plus kTimeoutMarginMs for the module's turnaround and the adapter.
constexpr int kTimeoutMarginMs = 50;
int defaultTimeoutMs(const LineSettings &line, int requestBytes, int replyBytes);

// The output states a write sends: outputs 1..count, on where listed. Nothing for a number
// outside 1..count.
std::optional<QList<bool>> outputStates(const QList<int> &on, int count);
