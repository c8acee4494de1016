#include "session.h"

#include "interrupt.h"
#include "serialports.h"

#include <QElapsedTimer>

#include <chrono>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <unistd.h>

Session::Session(const CliOptions &options, QTextStream &err) : m_options(options), m_err(err), m_echo(options.echo) {}

QString Session::device() const
{
    return resolvePort(m_options.port, m_options.sysFolder).name();
}

bool Session::open(const LineSettings &line)
{
    const PortTarget target = resolvePort(m_options.port, m_options.sysFolder);
    m_tcpTarget = target.tcp;
    m_framing.kind = target.framing();
    // A device server (no device here) packs the serial bytes into its TCP segments on a timer of
    // its own, which nothing here can read: its latency is not known. An MBAP frame's header says
    // its length: nothing is waited for after it.
    m_quietUs = m_framing.mbap() ? 0 : replyQuietUs(line.baud, adapterLatencyMs(target.device));
    const SerialLine::Result r = m_tcpTarget ? m_tcp.openTarget(*m_tcpTarget, settingsText(line))
                                             : m_serial.openPath(target.device, settingsText(line));
    if (r.ok())
        return true;
    QString what;
    switch (r.fault) {
    case SerialLine::Fault::DoesNotExist: what = QStringLiteral("does not exist"); break;
    case SerialLine::Fault::InUse: what = QStringLiteral("is in use"); break;
    default: what = QStringLiteral("cannot be opened"); break;
    }
    m_err << QStringLiteral("korvant-cli: %1\n").arg(portFailureText(m_options.port, device(), what, r.detail));
    m_err.flush();
    return false;
}

namespace {
// Waits up to ns for the line or Ctrl+C: POLLIN-style revents of the line, 0 at the time-out, -1
// for Ctrl+C. A line of -1 waits for Ctrl+C alone. To the nanosecond rather than poll()'s
// millisecond: the finder's probes are a few milliseconds long, and rounding each wait up to the
// next millisecond added half of one to every probe.
int waitFor(int fd, qint64 ns)
{
    pollfd fds[2] = {{Interrupt::descriptor(), POLLIN, 0}, {fd, POLLIN, 0}};
    const nfds_t n = fd >= 0 ? 2 : 1;
    const timespec ts{time_t(ns / 1000000000), long(ns % 1000000000)};
    if (::ppoll(fds, n, &ts, nullptr) < 0)
        return 0; // a signal: the caller looks at the clock and Interrupt::requested() again
    if (fds[0].revents)
        return -1;
    return n == 2 ? fds[1].revents : 0;
}
} // namespace

QByteArray Session::takeBytes(int fd, bool &failed)
{
    QByteArray bytes;
    if (const std::optional<QString> lost = readWaiting(fd, m_tcpTarget.has_value(), bytes)) {
        fail(*lost);
        failed = true;
    }
    return bytes;
}

void Session::fail(const QString &why)
{
    m_err << QStringLiteral("korvant-cli: the line failed: %1\n").arg(why);
    m_err.flush();
    line().close();
}

Session::Reply Session::failed(Reply reply, const QString &why)
{
    fail(why);
    reply.lineFailed = true;
    return reply;
}

Session::Reply Session::exchange(Exchange &exchange, int timeoutMs)
{
    return exchangeUs(exchange, qint64(timeoutMs) * 1000);
}

// Until the time-out, or until a complete reply has been followed by a quiet gap; whether a
// complete reply came.
bool Session::gather(int fd, const Exchange &exchange, qint64 timeoutUs, const QElapsedTimer &clock, Reply &reply)
{
    qint64 endNs = timeoutUs * 1000;
    qint64 quietEndNs = -1; // once the reply is complete
    while (!Interrupt::requested()) {
        const qint64 leftNs = endNs - clock.nsecsElapsed();
        if (leftNs <= 0)
            break;
        const int ready = waitFor(fd, leftNs);
        if (ready < 0)
            break;
        if (ready == 0)
            continue;
        const QByteArray bytes = takeBytes(fd, reply.lineFailed);
        if (reply.lineFailed)
            break;
        if (bytes.isEmpty() && (ready & (POLLHUP | POLLERR | POLLNVAL))) {
            fail(QStringLiteral("the device hung up"));
            reply.lineFailed = true;
            break;
        }
        const qint64 nowNs = clock.nsecsElapsed();
        if (bytes.isEmpty() || (quietEndNs >= 0 && nowNs > quietEndNs))
            continue;
        reply.bytes += bytes;
        reply.responseMs = double(nowNs) / 1e6;
        if (exchange.complete(reply.bytes))
            endNs = quietEndNs = nowNs + m_quietUs * 1000;
    }
    return quietEndNs >= 0;
}

Session::Reply Session::exchangeUs(Exchange &exchange, qint64 timeoutUs)
{
    if (m_framing.mbap())
        ++m_framing.transaction;
    exchange.framing = m_framing;
    const QByteArray frame = exchange.wire();
    Reply reply;
    if (Interrupt::requested()) {
        reply.interrupted = true;
        return reply;
    }
    const int fd = line().descriptor();
    if (fd < 0)
        return failed(reply, QStringLiteral("the line is not open"));
    // Bytes that came after the last exchange belong to no request: drop them.
    takeBytes(fd, reply.lineFailed);
    if (reply.lineFailed)
        return reply;
    const bool log = m_logging && !m_options.quiet;
    if (log)
        m_err << QStringLiteral("> ") << HexText(frame).trimmed() << '\n';
    QElapsedTimer clock;
    clock.start();
    reply.sentWallNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                           std::chrono::system_clock::now().time_since_epoch()).count();
    if (::write(fd, frame.constData(), size_t(frame.size())) != frame.size())
        return failed(reply, QString::fromLocal8Bit(std::strerror(errno)));
    const bool complete = gather(fd, exchange, timeoutUs, clock, reply);
    reply.waitedMs = double(clock.nsecsElapsed()) / 1e6;
    // Ctrl+C in the quiet gap after a complete reply leaves that exchange to be judged and counted.
    reply.interrupted = Interrupt::requested() && !complete;
    if (log)
        m_err << QStringLiteral("< ") << HexText(reply.bytes).trimmed();
    m_err.flush();
    return reply;
}

Session::Reply Session::listenUs(qint64 timeoutUs)
{
    Reply reply;
    const int fd = line().descriptor();
    if (fd < 0)
        return failed(reply, QStringLiteral("the line is not open"));
    QElapsedTimer clock;
    clock.start();
    for (qint64 leftNs = timeoutUs * 1000; !reply.lineFailed; leftNs = timeoutUs * 1000 - clock.nsecsElapsed()) {
        const int ready = leftNs > 0 ? waitFor(fd, leftNs) : POLLIN;
        if (ready < 0) {
            reply.interrupted = true;
            break;
        }
        const QByteArray bytes = ready ? takeBytes(fd, reply.lineFailed) : QByteArray();
        if (bytes.isEmpty() && (ready & (POLLHUP | POLLERR | POLLNVAL)) && !reply.lineFailed) {
            fail(QStringLiteral("the device hung up"));
            reply.lineFailed = true;
        }
        if (!bytes.isEmpty()) {
            reply.bytes += bytes;
            reply.responseMs = double(clock.nsecsElapsed()) / 1e6;
        }
        if (leftNs <= 0)
            break;
    }
    return reply;
}

void Session::logVerdict(const QString &reason)
{
    if (m_logging && !m_options.quiet) {
        m_err << QStringLiteral("   ") << reason << '\n';
        m_err.flush();
    }
}

bool Session::wait(int ms)
{
    QElapsedTimer clock;
    clock.start();
    for (qint64 left = ms; left > 0 && !Interrupt::requested(); left = ms - clock.elapsed())
        waitFor(-1, left * 1000000);
    return !Interrupt::requested();
}
