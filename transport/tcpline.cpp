#include "tcpline.h"

#include "linesettings.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TcpLine::TcpLine()
{
    m_linger.setSingleShot(true);
    m_linger.setInterval(0);
    connect(&m_linger, &QTimer::timeout, this, [this] {
        if (!m_open)
            drop();
    });
}

TcpLine::~TcpLine()
{
    m_open = false;
    drop();
}

void TcpLine::drop()
{
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

bool TcpLine::connected() const
{
    pollfd p{m_fd, POLLIN | POLLRDHUP, 0};
    return m_fd >= 0 && ::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL));
}

void TcpLine::onReadable()
{
    QByteArray bytes;
    const std::optional<QString> lost = readWaiting(m_fd, true, bytes);
    // Bytes that come while no one listens (a probed or closed connection) are dropped.
    if (m_open && !bytes.isEmpty())
        deliver(bytes);
    if (!lost)
        return;
    const bool wasOpen = std::exchange(m_open, false);
    drop();
    if (wasOpen)
        emit failed(QStringLiteral("%1: %2").arg(m_target.text(), *lost));
}

SerialLine::Result TcpLine::connectTo(const TcpTarget &target)
{
    m_linger.stop();
    if (target == m_target && connected())
        return {};
    drop();
    m_target = target;
    QElapsedTimer clock;
    clock.start();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    int error = ::getaddrinfo(target.host.toUtf8().constData(), QByteArray::number(target.port).constData(), &hints, &found);
    QString why = QStringLiteral("host %1 not found").arg(target.host);
    for (addrinfo *a = error == 0 ? found : nullptr; a && m_fd < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0)
            continue;
        error = ::connect(fd, a->ai_addr, a->ai_addrlen) == 0 ? 0 : errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            const int left = int(kConnectMs - clock.elapsed());
            socklen_t size = sizeof error;
            if (left <= 0 || ::poll(&p, 1, left) != 1)
                error = ETIMEDOUT;
            else if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
        }
        if (error == 0) {
            m_fd = fd;
            break;
        }
        ::close(fd);
        if (error == ECONNREFUSED)
            why = QStringLiteral("%1 refused the connection").arg(target.text());
        else if (error == ETIMEDOUT)
            why = QStringLiteral("no answer from %1 within %2 s").arg(target.text()).arg(kConnectMs / 1000);
        else
            why = QStringLiteral("%1: %2").arg(target.text(), QString::fromLocal8Bit(std::strerror(error)));
    }
    if (found)
        ::freeaddrinfo(found);
    if (m_fd < 0) {
        Result r{Fault::DoesNotExist, why};
        r.showDetail = true;
        return r;
    }
    // Requests are small and each wants its answer now.
    const int on = 1;
    ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TcpLine::onReadable);
    return {};
}

SerialLine::Result TcpLine::openTarget(const TcpTarget &target, const QString &settings)
{
    m_open = false;
    if (!parseSettingsText(settings))
        return {Fault::Other, QStringLiteral("the settings \"%1\" are not valid").arg(settings)};
    const Result r = connectTo(target);
    if (!r.ok())
        return r;
    QByteArray unheard; // whatever came while no one listened
    readWaiting(m_fd, true, unheard);
    m_open = true;
    return {};
}

SerialLine::Result TcpLine::probe(int port)
{
    const auto target = resolvePort(port).tcp;
    if (!target)
        return {Fault::DoesNotExist, QStringLiteral("sys/COM%1 names no tcp:// target").arg(port)};
    if (m_open)
        return {Fault::InUse, QStringLiteral("%1 is already open").arg(target->text())};
    const Result r = connectTo(*target);
    if (r.ok())
        m_linger.start();
    return r;
}

SerialLine::Result TcpLine::open(int port, const QString &settings)
{
    const auto target = resolvePort(port).tcp;
    if (!target)
        return {Fault::DoesNotExist, QStringLiteral("sys/COM%1 names no tcp:// target").arg(port)};
    return openTarget(*target, settings);
}

void TcpLine::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_linger.start();
}

bool TcpLine::isOpen() const
{
    return m_open && m_fd >= 0;
}

void TcpLine::write(const QByteArray &frame)
{
    if (isOpen())
        [[maybe_unused]] const ssize_t n = ::write(m_fd, frame.constData(), size_t(frame.size()));
}

QString TcpLine::deviceName(int port) const
{
    const auto target = resolvePort(port).tcp;
    return target ? target->text() + QStringLiteral(" (baud rate and parity are set on the device server)") : QString();
}
