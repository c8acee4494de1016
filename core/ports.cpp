#include "ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

std::optional<TcpTarget> parseTcpTarget(const QString &text)
{
    const QString t = text.trimmed();
    const bool mbap = t.startsWith(QLatin1String("mbap://"));
    if (!mbap && !t.startsWith(QLatin1String("tcp://")))
        return std::nullopt;
    const QString rest = t.mid(mbap ? 7 : 6);
    // A port is the digits after the last colon outside an IPv6 address's brackets.
    qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
    if (colon < rest.lastIndexOf(QLatin1Char(']')))
        colon = -1;
    bool ok = mbap && colon < 0 && !rest.isEmpty();
    const uint port = colon > 0 ? rest.mid(colon + 1).toUInt(&ok) : ok ? kMbapPort : 0;
    if (!ok || port == 0 || port > 65535)
        return std::nullopt;
    TcpTarget target;
    target.framing = mbap ? FramingKind::Mbap : FramingKind::Rtu;
    target.host = colon > 0 ? rest.left(colon) : rest;
    if (target.host.startsWith(QLatin1Char('[')) && target.host.endsWith(QLatin1Char(']')))
        target.host = target.host.mid(1, target.host.size() - 2);
    target.port = quint16(port);
    return target;
}

int comPortNumber(const QString &port)
{
    if (port.size() != 4 || !port.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
        return 0;
    const QChar digit = port[3];
    return digit >= QLatin1Char('1') && digit <= QLatin1Char('9') ? digit.unicode() - '0' : 0;
}

QString toolSysFolder(const QString &workingFolder, const QString &xdgDataHome, const QString &home)
{
    const QString own = QDir(workingFolder).filePath(QStringLiteral("sys"));
    if (QFileInfo(own).isDir())
        return own;
    const QString data = QDir::isAbsolutePath(xdgDataHome) ? xdgDataHome : QDir(home).filePath(QStringLiteral(".local/share"));
    return QDir(data).filePath(QStringLiteral("korvant/sys"));
}

PortTarget resolvePort(int port, const QString &sysFolder)
{
    PortTarget target;
    if (port < 1 || port > 9)
        return target;
    const QDir sys(sysFolder.isEmpty() ? QDir::current().filePath(QStringLiteral("sys")) : sysFolder);
    const QFileInfo info(sys.filePath(QStringLiteral("COM%1").arg(port)));
    if (info.isSymLink()) {
        target.device = info.symLinkTarget();
        return target;
    }
    if (info.isFile()) {
        QFile file(info.filePath());
        if (file.open(QIODevice::ReadOnly))
            target.tcp = parseTcpTarget(QString::fromUtf8(file.readLine(512)));
    }
    if (info.exists()) {
        target.device = info.absoluteFilePath();
        return target;
    }
#ifdef Q_OS_WIN
    target.device = QStringLiteral("COM%1").arg(port);
#else
    const QString usb = QStringLiteral("/dev/ttyUSB%1").arg(port - 1);
    target.device = QFileInfo::exists(usb) ? usb : QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
    return target;
}

PortTarget resolvePort(const QString &port, const QString &sysFolder)
{
    if (const auto tcp = parseTcpTarget(port))
        return {QString(), tcp};
    if (const int n = comPortNumber(port))
        return resolvePort(n, sysFolder);
    return {port, std::nullopt};
}

bool sameDevice(const QString &a, const QString &b)
{
    const QString device = QFileInfo(a).canonicalFilePath();
    return !device.isEmpty() && QFileInfo(b).canonicalFilePath() == device;
}

int comNumberFor(const QString &port, const QString &sysFolder)
{
    if (const int n = comPortNumber(port))
        return n;
    const PortTarget wanted = resolvePort(port, sysFolder);
    for (int n = 1; n <= 9; ++n) {
        const PortTarget target = resolvePort(n, sysFolder);
        if (wanted.tcp || target.tcp ? wanted.tcp == target.tcp : sameDevice(wanted.device, target.device))
            return n;
    }
    return 0;
}
