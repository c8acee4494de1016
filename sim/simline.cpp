#include "simline.h"

#include <QSet>
#include <QTimer>

namespace {

struct PortSwitches {
    QSet<int> missing;
    QSet<int> inUse;
};

PortSwitches &switches()
{
    static PortSwitches s;
    return s;
}

QList<SimLine *> &liveLines()
{
    static QList<SimLine *> lines;
    return lines;
}

} // namespace

SimLine::SimLine(SimBus *bus, QObject *parent) : SerialLine(parent), m_bus(bus)
{
    liveLines().append(this);
    m_clock.start();
}

SimLine::~SimLine()
{
    liveLines().removeOne(this);
}

SimLine::Result SimLine::check(int port) const
{
    if (port < 1 || port > 9 || switches().missing.contains(port))
        return {Fault::DoesNotExist, QStringLiteral("COM%1 does not exist").arg(port)};
    if (switches().inUse.contains(port))
        return {Fault::InUse, QStringLiteral("COM%1 is held by another program").arg(port)};
    for (const SimLine *line : std::as_const(liveLines())) {
        if (line->m_port == port)
            return {Fault::InUse, QStringLiteral("COM%1 is already open").arg(port)};
    }
    return {};
}

SimLine::Result SimLine::probe(int port)
{
    return check(port);
}

SimLine::Result SimLine::open(int port, const QString &settings)
{
    close();
    m_lastSettings = settings;
    const std::optional<LineSettings> s = parseSettingsText(settings);
    if (!s)
        return {Fault::Other, QStringLiteral("the settings \"%1\" are not valid").arg(settings)};
    const Result result = check(port);
    if (!result.ok())
        return result;
    m_settings = *s;
    m_port = port;
    ++m_openCount;
    return {};
}

void SimLine::close()
{
    if (m_port == 0)
        return;
    m_port = 0;
    ++m_session;
}

QString SimLine::deviceName(int port) const
{
    return port >= 1 && port <= 9 ? QStringLiteral("simulated COM%1").arg(port) : QString();
}

void SimLine::write(const QByteArray &frame)
{
    if (!isOpen())
        return;
    m_writes.append(frame);
    m_bus->tick(int(m_clock.restart()));
    int delayMs = 0;
    int pieces = 1;
    int gapMs = 0;
    QByteArray reply = m_bus->exchange(frame, m_settings.baud, m_settings.parity, &delayMs, &pieces, &gapMs);
    if (echo)
        reply.prepend(frame);
    if (reply.isEmpty())
        return;
    const quint64 session = m_session;
    int at = qMax(0, delayMs);
    for (const QByteArray &piece : splitReply(reply, pieces)) {
        QTimer::singleShot(at, Qt::PreciseTimer, this, [this, session, piece] {
            if (m_session == session && isOpen())
                deliver(piece);
        });
        at += qMax(0, gapMs);
    }
}

void SimLine::injectBytes(const QByteArray &b)
{
    if (isOpen() && !b.isEmpty())
        deliver(b);
}

void SimLine::fail(const QString &why)
{
    if (!isOpen())
        return;
    close();
    emit failed(why);
}

void SimLine::setPortMissing(int n, bool missing)
{
    if (missing)
        switches().missing.insert(n);
    else
        switches().missing.remove(n);
}

void SimLine::setPortInUse(int n, bool inUse)
{
    if (inUse)
        switches().inUse.insert(n);
    else
        switches().inUse.remove(n);
}

void SimLine::resetPorts()
{
    switches() = {};
}

QList<SimLine *> SimLine::instances()
{
    return liveLines();
}

void useSimulatedBus(SimBus *bus)
{
    setSerialLineFactory([bus] { return std::make_unique<SimLine>(bus); });
}
