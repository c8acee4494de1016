#include "moduleline.h"

#include "ports.h"
#include "settingsfiles.h"

#include <QFileInfo>

ModuleLine::ModuleLine(QObject *parent) : QObject(parent), m_line(makeSerialLine())
{
    m_line->setObjectName(QStringLiteral("MSComm1"));
    m_line->setParent(this);
    m_line->setReceiver([this](const QByteArray &bytes) { take(bytes); });
    connect(m_line.get(), &SerialLine::failed, this, [this] {
        close();
        emit failed();
    });
}

ModuleLine::~ModuleLine()
{
    m_line->close();
}

void ModuleLine::clear()
{
    m_sent.clear();
    m_received.clear();
}

void ModuleLine::send(const QByteArray &frame)
{
    if (m_framing.mbap())
        ++m_framing.transaction;
    m_sent = m_framing.wrap(frame);
    m_line->write(m_sent);
}

void ModuleLine::setLongestReply(int bytes)
{
    // The margin keeps a too-long reply recognisable as too long.
    m_maxReceived = qsizetype(bytes) + 16;
}

static QStringList g_echoSeen; // devices, in the order their echo was learned

QStringList ModuleLine::echoSeen()
{
    return g_echoSeen;
}

QString ModuleLine::echoFile(int port)
{
    return sysFilePath(QStringLiteral("COM%1.echo").arg(port));
}

SerialLine::Result ModuleLine::open(int port, const QString &settings)
{
    const QString name = QStringLiteral("COM%1").arg(port);
    const SerialLine::Result r = m_line->open(port, settings);
    m_framing.kind = resolvePort(port).framing();
    // A gateway answers over TCP: no echo there.
    m_echoKnown = r.ok() && !m_framing.mbap() && ((m_echoKnown && name == m_port) || QFileInfo::exists(echoFile(port)));
    m_port = name;
    return r;
}

SerialLine::Result ModuleLine::open(const QString &port, const QString &settings)
{
    if (const int n = comPortNumber(port))
        return open(n, settings);
    const SerialLine::Result r = m_line->openNamed(port, settings);
    m_framing.kind = resolvePort(port).framing();
    m_echoKnown = r.ok() && !m_framing.mbap() && m_echoKnown && port == m_port;
    m_port = port;
    return r;
}

void ModuleLine::close()
{
    m_line->close();
    m_echoKnown = false;
}

void ModuleLine::learnEcho()
{
    m_echoKnown = true;
    const QString device = resolvePort(m_port).name();
    if (!device.isEmpty() && !g_echoSeen.contains(device))
        g_echoSeen.append(device);
}

void ModuleLine::take(const QByteArray &bytes)
{
    // The request's echo may come first: room for it beyond the bound. The watcher (the window's
    // onBytes) finds the bytes among received().
    const qsizetype room = m_maxReceived + m_sent.size() - m_received.size();
    if (room > 0)
        m_received += room < bytes.size() ? bytes.left(room) : bytes;
    if (m_watcher)
        m_watcher(bytes);
}
