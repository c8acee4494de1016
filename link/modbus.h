// Modbus RTU framing: the CRC-16 that every request carries, the hex text in which frames are
// shown, and the one rule by which every window accepts a reply.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>

// Frames data[0..lastIndex] and appends the CRC-16/MODBUS, low byte first. The result has
// lastIndex + 3 bytes; bytes of data beyond lastIndex are neither covered nor copied. A
// payload shorter than lastIndex + 1 is read as if padded with zero bytes.
QByteArray Crc16(const QByteArray &data, std::uint8_t lastIndex);

// The plain 16-bit CRC-16/MODBUS of len bytes (initial 0xFFFF, reflected polynomial 0xA001).
std::uint16_t crc16Of(const char *bytes, qsizetype len);

// Each byte as two upper-case hex digits and one blank, the last byte included: 3n characters.
QString HexText(const QByteArray &bytes);
void appendHexText(QString &text, const QByteArray &bytes);

// The value of the hex digit at 1-based character position pos of text, or -1 when there is no
// hex digit there.
int hexDigitAt(const QString &text, qsizetype pos);

// The 16-bit value whose four hex digits stand at 1-based positions pos, pos+1, pos+3, pos+4
// (the high byte then the low byte of a register, as laid out in hex text).
std::uint16_t registerAt(const QString &text, qsizetype pos);

// The reply check shared by every exchange of the tool. receiveHex is accepted when it is exactly
// expectedBytes long (3 characters a byte), starts with the same address and function code as
// sendHex, holds only well-formed hex text, and its last two bytes are the CRC of the others.
bool AcceptReply(const QString &receiveHex, const QString &sendHex, int expectedBytes);

// The bytes of well-formed hex text ("01 0A "); empty and ok=false for anything else.
QByteArray bytesFromHexText(const QString &text, bool *ok = nullptr);
