#include "tcpline.h"

#include "linesettings.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

std::optional<TcpTarget> parseTcpTarget(const QString &text)
{
    const QString t = text.trimmed();
    if (!t.startsWith(QLatin1String("tcp://")))
        return std::nullopt;
    const QString rest = t.mid(6);
    const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint port = colon > 0 ? rest.mid(colon + 1).toUInt(&ok) : 0;
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    TcpTarget target;
    target.host = rest.left(colon);
    if (target.host.startsWith(QLatin1Char('[')) && target.host.endsWith(QLatin1Char(']')))
        target.host = target.host.mid(1, target.host.size() - 2);
    target.port = quint16(port);
    return target;
}

std::optional<TcpTarget> tcpTargetForPort(int port)
{
    if (port < 1 || port > 9)
        return std::nullopt;
    const QFileInfo info(QDir::current().filePath(QStringLiteral("sys/COM%1").arg(port)));
    if (info.isSymLink() || !info.isFile())
        return std::nullopt;
    QFile file(info.filePath());
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return parseTcpTarget(QString::fromUtf8(file.readLine(512)));
}

TcpLine::TcpLine()
{
    m_linger.setSingleShot(true);
    m_linger.setInterval(0);
    connect(&m_linger, &QTimer::timeout, this, &TcpLine::drop);
    connect(&m_socket, &QTcpSocket::readyRead, this, [this] {
        const QByteArray bytes = m_socket.readAll();
        if (m_open && !bytes.isEmpty())
            emit received(bytes);
    });
    connect(&m_socket, &QTcpSocket::disconnected, this, [this] {
        if (!m_open)
            return;
        m_open = false;
        emit failed(QStringLiteral("%1 closed the connection").arg(m_target.text()));
    });
    connect(&m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (!m_open || m_socket.state() == QAbstractSocket::ConnectedState)
            return;
        m_open = false;
        emit failed(m_socket.errorString());
    });
}

TcpLine::~TcpLine()
{
    m_open = false;
    m_socket.abort();
}

SerialLine::Result TcpLine::connectTo(const TcpTarget &target)
{
    m_linger.stop();
    if (m_socket.state() == QAbstractSocket::ConnectedState && target == m_target)
        return {};
    m_socket.abort();
    m_target = target;
    m_socket.connectToHost(target.host, target.port);
    if (m_socket.waitForConnected(kConnectMs))
        return {};
    QString why;
    switch (m_socket.error()) {
    case QAbstractSocket::HostNotFoundError:
        why = QStringLiteral("host %1 not found").arg(target.host);
        break;
    case QAbstractSocket::ConnectionRefusedError:
        why = QStringLiteral("%1 refused the connection").arg(target.text());
        break;
    case QAbstractSocket::SocketTimeoutError:
        why = QStringLiteral("no answer from %1 within %2 s").arg(target.text()).arg(kConnectMs / 1000);
        break;
    default:
        why = QStringLiteral("%1: %2").arg(target.text(), m_socket.errorString());
        break;
    }
    m_socket.abort();
    Result r{Fault::DoesNotExist, why};
    r.showDetail = true;
    return r;
}

SerialLine::Result TcpLine::probeTarget(const TcpTarget &target)
{
    if (m_open)
        return {Fault::InUse, QStringLiteral("%1 is already open").arg(target.text())};
    const Result r = connectTo(target);
    if (r.ok())
        m_linger.start();
    return r;
}

SerialLine::Result TcpLine::openTarget(const TcpTarget &target, const QString &settings)
{
    m_open = false;
    if (!parseSettingsText(settings))
        return {Fault::Other, QStringLiteral("the settings \"%1\" are not valid").arg(settings)};
    const Result r = connectTo(target);
    if (!r.ok())
        return r;
    m_socket.readAll(); // whatever came while no one listened
    m_open = true;
    return {};
}

SerialLine::Result TcpLine::probe(int port)
{
    const auto target = tcpTargetForPort(port);
    if (!target)
        return {Fault::DoesNotExist, QStringLiteral("sys/COM%1 names no tcp:// target").arg(port)};
    return probeTarget(*target);
}

SerialLine::Result TcpLine::open(int port, const QString &settings)
{
    const auto target = tcpTargetForPort(port);
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

void TcpLine::drop()
{
    if (!m_open)
        m_socket.disconnectFromHost();
}

bool TcpLine::isOpen() const
{
    return m_open && m_socket.state() == QAbstractSocket::ConnectedState;
}

void TcpLine::write(const QByteArray &frame)
{
    if (isOpen())
        m_socket.write(frame);
}

QString TcpLine::deviceName(int port) const
{
    const auto target = tcpTargetForPort(port);
    return target ? target->text() + QStringLiteral(" (baud rate and parity are set on the device server)") : QString();
}
