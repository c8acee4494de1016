#include "session.h"

#include "interrupt.h"
#include "modbus.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace {
// Once a reply is complete, a byte more within this time still belongs to it (and makes it too
// long). USB adapters deliver bytes in bursts up to 16 ms apart, so the 3.5 characters of Modbus
// framing are too short to wait for here.
constexpr int kQuietMs = 20;

// A reply that can be judged without waiting for the time-out: as long as the request asks for,
// or a whole exception frame.
bool complete(const QByteArray &reply, const QByteArray &request)
{
    if (reply.size() >= expectedReplyLength(request))
        return true;
    return reply.size() == 5 && request.size() > 1 && std::uint8_t(reply[1]) == (std::uint8_t(request[1]) | 0x80)
           && crcOk(reply);
}
} // namespace

Session::Session(const CliOptions &options, QTextStream &err) : m_options(options), m_err(err) {}

std::optional<TcpTarget> Session::tcpTarget() const
{
    if (const auto target = parseTcpTarget(m_options.port))
        return target;
    const int n = comPortNumber(m_options.port);
    return n > 0 ? tcpTargetForPort(n) : std::nullopt;
}

QString Session::device() const
{
    if (const auto target = tcpTarget())
        return target->text();
    const int n = comPortNumber(m_options.port);
    return n > 0 ? deviceForPort(n) : m_options.port;
}

bool Session::open(const LineSettings &line)
{
    m_tcpTarget = tcpTarget();
    const SerialLine::Result r = m_tcpTarget ? m_tcp.openTarget(*m_tcpTarget, settingsText(line))
                                             : m_serial.openPath(device(), settingsText(line));
    if (r.ok())
        return true;
    QString what;
    switch (r.fault) {
    case SerialLine::Fault::DoesNotExist: what = QStringLiteral("does not exist"); break;
    case SerialLine::Fault::InUse: what = QStringLiteral("is in use"); break;
    default: what = QStringLiteral("cannot be opened"); break;
    }
    m_err << QStringLiteral("korvant-cli: port %1 (%2) %3: %4\n").arg(m_options.port, device(), what, r.detail);
    m_err.flush();
    return false;
}

Session::Reply Session::exchange(const QByteArray &frame, int timeoutMs)
{
    // Bytes that came after the last exchange belong to no request: let them arrive and drop them.
    QCoreApplication::processEvents();
    Reply reply;
    QEventLoop loop;
    QTimer timeout, quiet;
    timeout.setSingleShot(true);
    quiet.setSingleShot(true);
    timeout.setTimerType(Qt::PreciseTimer);
    QElapsedTimer clock;
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&quiet, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&line(), &SerialLine::received, &loop, [&](const QByteArray &bytes) {
        reply.bytes += bytes;
        reply.responseMs = double(clock.nsecsElapsed()) / 1e6;
        if (complete(reply.bytes, frame))
            quiet.start(kQuietMs);
    });
    QObject::connect(&Interrupt::instance(), &Interrupt::raised, &loop, [&] {
        reply.interrupted = true;
        loop.quit();
    });
    QObject::connect(&line(), &SerialLine::failed, &loop, [&](const QString &why) {
        reply.lineFailed = true;
        m_err << QStringLiteral("korvant-cli: the line failed: %1\n").arg(why);
        loop.quit();
    });
    const bool log = m_logging && !m_options.quiet;
    if (log)
        m_err << QStringLiteral("> ") << HexText(frame).trimmed() << '\n';
    clock.start();
    line().write(frame);
    timeout.start(timeoutMs);
    if (!Interrupt::instance().requested())
        loop.exec();
    else
        reply.interrupted = true;
    if (log)
        m_err << QStringLiteral("< ") << HexText(reply.bytes).trimmed();
    m_err.flush();
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
    if (Interrupt::instance().requested())
        return false;
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&Interrupt::instance(), &Interrupt::raised, &loop, &QEventLoop::quit);
    timer.start(ms);
    loop.exec();
    return !Interrupt::instance().requested();
}
