#include "moduleline.h"

#include "modbus.h"

ModuleLine::ModuleLine(QObject *parent) : QObject(parent), m_line(makeSerialLine())
{
    connect(m_line.get(), &SerialLine::received, this, &ModuleLine::take);
    connect(m_line.get(), &SerialLine::failed, this, &ModuleLine::failed);
}

ModuleLine::~ModuleLine()
{
    m_line->close();
}

void ModuleLine::clear()
{
    SendHex.clear();
    ReceiveHex.clear();
    m_received.clear();
}

void ModuleLine::send(const QByteArray &frame)
{
    SendHex = HexText(frame);
    m_line->write(frame);
}

void ModuleLine::setLongestReply(int bytes)
{
    // The margin keeps a too-long reply recognisable as too long.
    m_maxReceiveChars = qsizetype(bytes + 16) * 3;
}

void ModuleLine::take(const QByteArray &bytes)
{
    emit arrived(bytes);
    const qsizetype room = (m_maxReceiveChars - ReceiveHex.size()) / 3;
    if (room <= 0)
        return;
    const QByteArray kept = room < bytes.size() ? bytes.left(room) : bytes;
    appendHexText(ReceiveHex, kept);
    m_received += kept;
}
