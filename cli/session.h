// The line korvant-cli talks over: a QSerialLine on the device the --port option names, or a
// TcpLine to the device server or gateway it names (tcp://HOST:PORT, mbap://HOST[:PORT], or COMn
// standing for one; over mbap:// each request goes with the next transaction id), and one
// exchange at a time (write a request, collect its reply until the time-out or until a complete
// reply has been followed by the quiet core's replyQuietUs asks of this line: 3.5 characters plus
// the latency timer of the adapter behind the port). The exchange writes to and polls the line's
// descriptor itself: a pass of Qt's event loop costs more system calls than the exchange.
#pragma once

#include "commandline.h"
#include "exchange.h"
#include "qserialline.h"
#include "tcpline.h"

#include <QByteArray>
#include <QElapsedTimer>
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
    // How long the line must stay quiet after a complete reply, for the line opened last.
    qint64 quietUs() const { return m_quietUs; }

    struct Reply {
        QByteArray bytes;
        double responseMs = -1; // from the write to the last byte; -1 without a byte
        double waitedMs = 0;    // from the write to the end of the wait
        qint64 sentWallNs = 0;  // the wall clock at the write, in ns since the epoch
        bool lineFailed = false;
        bool interrupted = false; // Ctrl+C came first: no verdict
        // When the reply was complete (its last byte came), or, for one without (responseMs -1),
        // when the wait ended: in ms since the epoch.
        qint64 doneWallMs() const
        {
            return (sentWallNs + qint64((responseMs >= 0 ? responseMs : waitedMs) * 1e6)) / 1000000;
        }
    };
    // Sends the exchange's request and gathers what comes back. Without --quiet both frames are logged to stderr.
    // It returns once a complete reply has been followed by a quiet gap, or at the time-out. Bytes
    // after the quiet gap belong to no request and are dropped before the next one.
    // The exchange takes the line's framing (and its transaction id).
    Reply exchange(Exchange &exchange, int timeoutMs);
    // The same with the time-out to the microsecond (the finder's probes).
    Reply exchangeUs(Exchange &exchange, qint64 timeoutUs);
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
    Reply failed(Reply reply, const QString &why); // said by fail(), and the reply's line failed
    bool gather(int fd, const Exchange &exchange, qint64 timeoutUs, const QElapsedTimer &clock, Reply &reply);
    SerialLine &line() { return m_tcpTarget ? static_cast<SerialLine &>(m_tcp) : m_serial; }

    QSerialLine m_serial;
    TcpLine m_tcp;
    std::optional<TcpTarget> m_tcpTarget;
    Framing m_framing; // its transaction id: the last request's
    bool m_logging = true;
    bool m_echo = false;
    qint64 m_quietUs = replyQuietUs(9600, -1);
};
