#include "moduleline.h"

ModuleLine::ModuleLine(QObject *parent) : QObject(parent), m_line(makeSerialLine())
{
    m_line->setReceiver([this](const QByteArray &bytes) { take(bytes); });
    connect(m_line.get(), &SerialLine::failed, this, &ModuleLine::failed);
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
    m_sent = frame;
    m_line->write(frame);
}

void ModuleLine::setLongestReply(int bytes)
{
    // The margin keeps a too-long reply recognisable as too long.
    m_maxReceived = qsizetype(bytes) + 16;
}

void ModuleLine::take(const QByteArray &bytes)
{
    if (m_watcher)
        m_watcher(bytes);
    const qsizetype room = m_maxReceived - m_received.size();
    if (room <= 0)
        return;
    m_received += room < bytes.size() ? bytes.left(room) : bytes;
}
