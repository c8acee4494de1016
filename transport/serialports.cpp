#include "serialports.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {

// The first line of a sysfs attribute; empty when there is none.
QString attribute(const QString &dir, const char *name)
{
    QFile f(QDir(dir).filePath(QLatin1String(name)));
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readLine(4096)).trimmed();
}

// The USB device above a tty's device folder holds idVendor, manufacturer, product and serial;
// the interface between them may name itself. A few levels up at most: the port folder of a
// USB serial converter, its interface, the device.
void describe(SerialPortEntry &entry, const QString &deviceDir, const QString &sysRoot)
{
    QDir dir(deviceDir);
    const QString top = QDir(sysRoot).canonicalPath();
    for (int level = 0; level < 4 && dir.canonicalPath() != top && !dir.isRoot(); ++level) {
        const QString path = dir.path();
        if (entry.description.isEmpty())
            entry.description = attribute(path, "interface");
        if (QFileInfo::exists(dir.filePath(QStringLiteral("idVendor")))) {
            const QString product = attribute(path, "product");
            if (!product.isEmpty())
                entry.description = product;
            entry.manufacturer = attribute(path, "manufacturer");
            entry.serialNumber = attribute(path, "serial");
            return;
        }
        if (!dir.cdUp())
            return;
    }
}

// "ttyUSB10" as ("ttyUSB", 10), so names sort by their prefix, then by number.
std::pair<QString, qint64> sortKey(const QString &name)
{
    qsizetype digits = name.size();
    while (digits > 0 && name[digits - 1].isDigit())
        --digits;
    return {name.left(digits), digits < name.size() ? name.mid(digits).toLongLong() : -1};
}

} // namespace

QList<SerialPortEntry> listSerialPorts(const QString &devRoot, const QString &sysRoot)
{
    const QDir dev(devRoot);
    // The stable names, by the device they point at.
    QList<std::pair<QString, QString>> byId;
    const QDir ids(dev.filePath(QStringLiteral("serial/by-id")));
    for (const QFileInfo &link : ids.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot, QDir::Name))
        if (link.isSymLink())
            byId.append({QDir::cleanPath(link.symLinkTarget()), link.absoluteFilePath()});

    QList<SerialPortEntry> ports;
    QStringList names = QDir(QDir(sysRoot).filePath(QStringLiteral("class/tty")))
                            .entryList(QDir::Dirs | QDir::System | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(), [](const QString &a, const QString &b) { return sortKey(a) < sortKey(b); });
    for (const QString &name : names) {
        const QString ttyDir = QDir(sysRoot).filePath(QStringLiteral("class/tty/") + name);
        const QFileInfo deviceLink(ttyDir + QStringLiteral("/device"));
        if (!deviceLink.exists())
            continue; // virtual consoles, pseudo-terminals, the console
        if (attribute(ttyDir, "type") == QLatin1String("0"))
            continue; // the serial core's place for a UART that is not there
        SerialPortEntry entry;
        entry.device = QDir::cleanPath(dev.absoluteFilePath(name));
        for (const auto &[target, link] : byId)
            if (target == entry.device)
                entry.byId = link;
        describe(entry, deviceLink.canonicalFilePath(), sysRoot);
        bool timer = false;
        const int latency = attribute(deviceLink.canonicalFilePath(), "latency_timer").toInt(&timer);
        if (timer)
            entry.latencyTimerMs = latency;
        entry.exists = QFileInfo::exists(entry.device);
#ifdef Q_OS_UNIX
        entry.mayOpen = entry.exists && ::access(QFile::encodeName(entry.device).constData(), R_OK | W_OK) == 0;
#else
        entry.mayOpen = entry.exists;
#endif
        ports.append(entry);
    }
    return ports;
}

int adapterLatencyMs(const QString &device, const QString &devRoot, const QString &sysRoot)
{
    const QFileInfo node(QFileInfo(device).canonicalFilePath());
    if (node.path() == QDir(devRoot).canonicalPath() + QStringLiteral("/pts"))
        return 0;
    const QString parent = QFileInfo(QDir(sysRoot).filePath(QStringLiteral("class/tty/") + node.fileName() + QStringLiteral("/device"))).canonicalFilePath();
    if (parent.isEmpty())
        return -1;
    bool timer = false;
    const int latency = attribute(parent, "latency_timer").toInt(&timer);
    return timer ? latency : parent.contains(QStringLiteral("/usb")) ? -1 : 0;
}

QStringList deviceHolders(const QString &device, const QString &procRoot)
{
    const QString wanted = QFileInfo(device).canonicalFilePath();
    if (wanted.isEmpty())
        return {};
    const qint64 self = QCoreApplication::applicationPid();
    QList<qint64> pids;
    for (const QString &entry : QDir(procRoot).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        if (number && pid != self)
            pids << pid;
    }
    std::sort(pids.begin(), pids.end());
    QStringList holders;
    for (qint64 pid : pids) {
        const QString process = QDir(procRoot).filePath(QString::number(pid));
        const QDir fds(process + QStringLiteral("/fd"));
        for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
            if (fd.isSymLink() && QDir::cleanPath(fd.symLinkTarget()) == wanted) {
                const QString name = attribute(process, "comm");
                holders << QStringLiteral("%1 (PID %2)").arg(name.isEmpty() ? QStringLiteral("a program") : name).arg(pid);
                break;
            }
        }
    }
    return holders;
}
