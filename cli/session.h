// The line korvant-cli talks over: a QSerialLine on the device the --port option names, or a
// TcpLine to the device server it names (tcp://HOST:PORT, or COMn standing for one), and one
// exchange at a time (write a request, collect its reply until the time-out or until a complete
// reply has been followed by a quiet gap). The exchange writes to and polls the line's descriptor
// itself: a pass of Qt's event loop costs more system calls than the exchange.
#pragma once

#include "commandline.h"
#include "exchange.h"
#include "qserialline.h"
#include "tcpline.h"

#include <QByteArray>
#include <QTextStream>

class Session
{
public:
    Session(const CliOptions &options, QTextStream &err);

    // The device --port names: COMn resolved as the windows resolve it, anything else as given.
    QString device() const;
    // The port is a serial device server, which carries every setting alike (known once opened).
    bool deviceServer() const { return m_tcpTarget.has_value(); }
    // Opens (or reopens) the line at these settings. A failure is reported on stderr with its
    // reason (for a device the user may not open, with the fix).
    bool open(const LineSettings &line);
    void close() { line().close(); }

    struct Reply {
        QByteArray bytes;
        double responseMs = -1; // from the write to the last byte; -1 without a byte
        bool lineFailed = false;
        bool interrupted = false; // Ctrl+C came first: no verdict
    };
    // Sends the exchange's request and gathers what comes back. Without --quiet both frames are logged to stderr.
    // A poll that is due again soon passes holdMs, the time from the write to its next request:
    // the exchange then returns no earlier, so the quiet gap and the wait for the next request
    // are one sleep. Bytes after the quiet gap belong to no request and are dropped.
    Reply exchange(const Exchange &exchange, int timeoutMs, int holdMs = 0);
    // The same with the time-out to the microsecond (the finder's probes).
    Reply exchangeUs(const Exchange &exchange, qint64 timeoutUs, int holdMs = 0);
    // Sends nothing: gathers what comes for timeoutUs (0: what is waiting now). Its responseMs is
    // from the call to the last byte.
    Reply listenUs(qint64 timeoutUs);
    // Whether the line is known to echo every request (--echo, or learned from a read).
    bool echoKnown() const { return m_echo; }
    void setEchoKnown(bool known) { m_echo = known; }
    // Logs a verdict after the received frame (without --quiet).
    void logVerdict(const QString &reason);
    // Frames are logged without --quiet unless turned off here (survey's progress bar).
    void setLogging(bool on) { m_logging = on; }
    // Waits until ms have passed or Ctrl+C; false for Ctrl+C.
    bool wait(int ms);

private:
    const CliOptions &m_options;
    QTextStream &m_err;
    // What the line holds now, without waiting; a line that failed is reported and closed.
    QByteArray takeBytes(int fd, bool &failed);
    void fail(const QString &why);
    SerialLine &line() { return m_tcpTarget ? static_cast<SerialLine &>(m_tcp) : m_serial; }

    QSerialLine m_serial;
    TcpLine m_tcp;
    std::optional<TcpTarget> m_tcpTarget;
    bool m_logging = true;
    bool m_echo = false;
    bool m_heldUntilNow = false; // the last exchange listened until its hold ended
};
