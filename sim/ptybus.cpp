#include "ptybus.h"

#include "framing.h"
#include "linesettings.h"
#include "modbus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTime>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Modbus RTU allows 256 bytes a frame; anything longer on the line is noise.
constexpr qsizetype maxFrame = 256;
constexpr std::int64_t msNs = 1000000;
constexpr std::int64_t tickNs = 100 * msNs;

std::int64_t nowNs()
{
    using namespace std::chrono;
    return duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count();
}

qint32 baudOf(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

} // namespace

PtyBus::PtyBus(SimBus *bus) : m_bus(bus) {}

PtyBus::~PtyBus()
{
    unlink();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    if (m_listen >= 0)
        ::close(m_listen);
}

bool PtyBus::listen(const QString &host, quint16 port, QString *error)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    const QByteArray hostName = host == QLatin1String("localhost") ? QByteArray("127.0.0.1") : host.toLatin1();
    if (::inet_pton(AF_INET, hostName.constData(), &address.sin_addr) != 1) {
        *error = QStringLiteral("\"%1\" is not an IPv4 address").arg(host);
        return false;
    }
    m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    socklen_t length = sizeof address;
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listen, 4) != 0 || ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        *error = QStringLiteral("cannot serve on %1:%2: %3").arg(host).arg(port).arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_tcpPort = ntohs(address.sin_port);
    return true;
}

bool PtyBus::open(QString *error)
{
    m_master = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || ::grantpt(m_master) != 0 || ::unlockpt(m_master) != 0) {
        *error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    const char *name = ::ptsname(m_master);
    if (!name) {
        *error = QStringLiteral("no slave name for the pseudo-terminal");
        return false;
    }
    m_slaveName = QString::fromLocal8Bit(name);
    // Our own slave descriptor: without it the master reads EIO whenever the tool has the port
    // closed, which it does often (every reopen of a scan step).
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(m_slaveName, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    termios t{};
    ::tcgetattr(m_slave, &t);
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, B9600);
    ::cfsetospeed(&t, B9600);
    ::tcsetattr(m_slave, TCSANOW, &t);
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    return true;
}

bool PtyBus::link(const QString &linkPath, QString *error)
{
    const QFileInfo info(linkPath);
    if (!QDir().mkpath(info.absolutePath())) {
        *error = QStringLiteral("cannot create the folder %1").arg(info.absolutePath());
        return false;
    }
    // The lock dies with this process however it ends, so a link whose lock nobody holds was
    // left by a simulator that is gone, even when its pty number has been handed out again.
    const QString lockPath = linkPath + QStringLiteral(".lock");
    m_lock = ::open(QFile::encodeName(lockPath).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lock < 0) {
        *error = QStringLiteral("cannot open %1: %2").arg(lockPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::flock(m_lock, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_lock);
        m_lock = -1;
        *error = QStringLiteral("%1 is held by another running simulator").arg(linkPath);
        return false;
    }
    if (info.isSymLink()) {
        QFile::remove(linkPath);
    } else if (info.exists()) {
        *error = QStringLiteral("%1 exists and is not a link").arg(linkPath);
        return false;
    }
    if (::symlink(QFile::encodeName(m_slaveName).constData(), QFile::encodeName(linkPath).constData()) != 0) {
        *error = QStringLiteral("cannot link %1: %2").arg(linkPath, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    m_linkPath = linkPath;
    return true;
}

void PtyBus::unlink()
{
    if (!m_linkPath.isEmpty()) {
        const QFileInfo info(m_linkPath);
        if (info.isSymLink() && info.symLinkTarget() == m_slaveName)
            QFile::remove(m_linkPath);
        QFile::remove(m_linkPath + QStringLiteral(".lock"));
        m_linkPath.clear();
    }
    if (m_lock >= 0) {
        ::close(m_lock);
        m_lock = -1;
    }
}

qint32 PtyBus::currentBaud() const
{
    if (m_listen >= 0)
        return 0; // the device server's business: every module answers

    // On Linux the master's attributes are those the slave side was given by the tool.
    termios t{};
    if (::tcgetattr(m_master, &t) != 0)
        return 0;
    return baudOf(::cfgetospeed(&t));
}

int PtyBus::bitsPerChar() const
{
    termios t{};
    ::tcgetattr(m_master, &t);
    return 10 + ((t.c_cflag & PARENB) ? 1 : 0) + ((t.c_cflag & CSTOPB) ? 1 : 0);
}

void PtyBus::log(const QString &text) const
{
    if (!m_log)
        return;
    const QByteArray line = (QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz ")) + text + u'\n').toLocal8Bit();
    std::fwrite(line.constData(), 1, std::size_t(line.size()), stderr);
}

void PtyBus::onFrameEnd()
{
    const QByteArray frame = m_rx;
    m_rx.clear();
    m_frameDeadlineNs = 0;
    const qint32 baud = currentBaud();
    log(QStringLiteral("<- %1(at %2 baud)").arg(HexText(frame)).arg(baud));
    const std::int64_t charNs = baud > 0 && m_listen < 0 ? bitsPerChar() * 1000000000LL / baud : 0;
    // The adapter hears its own request on the two wires as it goes out.
    if (m_echo)
        queue(nowNs() + frame.size() * charNs, frame);
    int delayMs = 0;
    int pieces = 1;
    int gapMs = 0;
    // Parity is invisible on a pty, so it is left open (0) and only the baud rate must match.
    const QByteArray reply = m_bus->exchange(frame, baud, 0, &delayMs, &pieces, &gapMs);
    if (reply.isEmpty()) {
        log(QStringLiteral("   no answer"));
        return;
    }
    // The request and the reply both take their time on a real line.
    std::int64_t due = replyDueNs(baud, int(frame.size()), int(reply.size())) + std::int64_t(delayMs) * msNs;
    for (const QByteArray &piece : splitReply(reply, pieces)) {
        queue(due, piece);
        due += std::int64_t(gapMs) * msNs;
    }
}

std::int64_t PtyBus::replyDueNs(qint32 baud, int requestBytes, int replyBytes) const
{
    if (!m_realTime)
        return nowNs() + (baud > 0 ? (requestBytes + replyBytes) * (bitsPerChar() * 1000000000LL / baud) : 0);
    // A pseudo-terminal carries no parity (Linux clears it); the stop bits it keeps.
    termios t{};
    ::tcgetattr(m_master, &t);
    const LineSettings line{baud, 'N', 8, (t.c_cflag & CSTOPB) ? 2 : 1};
    return nowNs() + (lineTimeUs(line, requestBytes) + frameSilenceUs(baud) + lineTimeUs(line, replyBytes)) * 1000;
}

void PtyBus::queue(std::int64_t dueNs, const QByteArray &bytes)
{
    if (m_latencyMs > 0) {
        const std::int64_t period = std::int64_t(m_latencyMs) * msNs;
        dueNs = (dueNs + period - 1) / period * period;
    }
    qsizetype at = m_out.size();
    while (at > 0 && m_out[at - 1].dueNs > dueNs)
        --at;
    m_out.insert(at, {dueNs, bytes});
}

int PtyBus::run(volatile std::sig_atomic_t *stop, const sigset_t *waitMask)
{
    std::int64_t lastTick = nowNs();
    bool hungUp = false;
    while (!*stop) {
        const std::int64_t now = nowNs();
        if (now - lastTick >= tickNs) {
            const std::int64_t ms = (now - lastTick) / msNs;
            m_bus->tick(int(ms));
            lastTick += ms * msNs;
        }
        sendDue(now);
        if (m_frameDeadlineNs != 0 && now >= m_frameDeadlineNs)
            onFrameEnd();

        std::int64_t next = lastTick + tickNs;
        if (!m_out.isEmpty())
            next = qMin(next, m_out.first().dueNs);
        if (m_frameDeadlineNs != 0)
            next = qMin(next, m_frameDeadlineNs);
        // After a hang-up the master would report it at once again; back off instead of spinning.
        if (hungUp)
            next = qMax(next, now + 20 * msNs);
        const std::int64_t waitNs = qMax<std::int64_t>(0, next - now);
        const timespec ts{time_t(waitNs / 1000000000LL), long(waitNs % 1000000000LL)};
        pollfd p[2] = {{m_master, POLLIN, 0}, {m_listen, POLLIN, 0}};
        const int r = ::ppoll(p, m_listen >= 0 ? 2 : 1, &ts, waitMask);
        if (r < 0 && errno != EINTR) {
            log(QStringLiteral("poll failed: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
            return 1;
        }
        if (r <= 0)
            continue;
        if (m_listen >= 0 && (p[1].revents & POLLIN))
            acceptClient();
        else if (m_master >= 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR)))
            receive(hungUp);
    }
    return 0;
}

void PtyBus::sendDue(std::int64_t now)
{
    while (!m_out.isEmpty() && m_out.first().dueNs <= now) {
        const QByteArray bytes = m_out.takeFirst().bytes;
        if (m_master < 0)
            continue; // the client has gone
        const ssize_t n = ::write(m_master, bytes.constData(), std::size_t(bytes.size()));
        if (n == bytes.size())
            log(QStringLiteral("-> %1").arg(HexText(bytes)));
        else
            log(QStringLiteral("-> %1(only %2 bytes went out: %3)").arg(HexText(bytes)).arg(qMax<ssize_t>(n, 0))
                    .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
}

void PtyBus::acceptClient()
{
    const int client = ::accept4(m_listen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0)
        return;
    if (m_master >= 0)
        ::close(m_master);
    m_master = client;
    m_rx.clear();
    m_out.clear();
    m_frameDeadlineNs = 0;
    log(QStringLiteral("client connected"));
}

void PtyBus::receive(bool &hungUp)
{
    char buf[512];
    const ssize_t n = ::read(m_master, buf, sizeof buf);
    if (n < 0 && errno == EAGAIN)
        return;
    if (n <= 0 && m_listen >= 0) {
        // The client closed its connection; wait for the next one.
        ::close(m_master);
        m_master = -1;
        m_rx.clear();
        log(QStringLiteral("client gone"));
        return;
    }
    hungUp = n <= 0;
    if (hungUp)
        return;
    const std::int64_t now = nowNs();
    m_rx.append(buf, n);
    if (m_gateway)
        return serveMbap();
    if (m_rx.size() > maxFrame) {
        log(QStringLiteral("<- %1 bytes without a pause: dropped as noise").arg(m_rx.size()));
        m_rx.clear();
        m_frameDeadlineNs = 0;
        return;
    }
    // A request whose announced length and CRC check out is served at once; anything else
    // ends at 3.5 character times of silence (at least 2 ms, as usual for fast lines).
    for (int len = requestLength(m_rx); len > 0 && m_rx.size() >= len && crcOk(m_rx.left(len)); len = requestLength(m_rx)) {
        const QByteArray rest = m_rx.mid(len);
        m_rx.truncate(len);
        onFrameEnd();
        m_rx = rest;
    }
    if (m_rx.isEmpty()) {
        m_frameDeadlineNs = 0;
    } else {
        const qint32 baud = currentBaud();
        const std::int64_t silenceNs = baud > 0 ? 35LL * bitsPerChar() * 100000000LL / baud : 0;
        m_frameDeadlineNs = now + qMax<std::int64_t>(silenceNs, 2 * msNs);
    }
}

void PtyBus::serveMbap()
{
    // A length beyond any Modbus frame is served (refused) at once rather than waited for.
    for (int len = mbapFrameLength(m_rx); len > 0 && (m_rx.size() >= len || len > maxFrame + 6); len = mbapFrameLength(m_rx)) {
        const QByteArray request = m_rx.left(len);
        m_rx.remove(0, len);
        log(QStringLiteral("<- %1").arg(HexText(request)));
        const QByteArray rtu = len <= maxFrame + 6 ? mbapToRtu(request) : QByteArray();
        if (rtu.isEmpty()) {
            log(QStringLiteral("   not a Modbus request: the connection is dropped"));
            ::close(m_master);
            m_master = -1;
            m_rx.clear();
            return;
        }
        int delayMs = 0;
        const QByteArray reply = gatewayReply(request, m_bus->exchange(rtu, 0, 0, &delayMs), m_gatewaySilent);
        if (reply.isEmpty())
            log(QStringLiteral("   no answer"));
        else
            queue(nowNs() + std::int64_t(delayMs) * msNs, reply);
    }
}
