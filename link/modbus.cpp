#include "modbus.h"

QByteArray Crc16(const QByteArray &data, std::uint8_t lastIndex)
{
    const qsizetype payload = qsizetype(lastIndex) + 1;
    QByteArray frame(payload + 2, '\0');
    // Kept as two bytes, low and high, exactly as the module firmware documents it.
    std::uint8_t crcHi = 0xFF;
    std::uint8_t crcLo = 0xFF;
    for (qsizetype i = 0; i < payload; ++i) {
        const std::uint8_t b = i < data.size() ? std::uint8_t(data[i]) : 0;
        frame[i] = char(b);
        crcLo ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            const bool hiLow = crcHi & 1;
            const bool loLow = crcLo & 1;
            crcHi >>= 1;
            crcLo >>= 1;
            if (hiLow)
                crcLo |= 0x80;
            if (loLow) {
                crcHi ^= 0xA0;
                crcLo ^= 0x01;
            }
        }
    }
    frame[payload] = char(crcLo);
    frame[payload + 1] = char(crcHi);
    return frame;
}

std::uint16_t crc16Of(const char *bytes, qsizetype len)
{
    std::uint16_t crc = 0xFFFF;
    for (qsizetype i = 0; i < len; ++i) {
        crc ^= std::uint8_t(bytes[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

static const char hexDigits[] = "0123456789ABCDEF";

void appendHexText(QString &text, const QByteArray &bytes)
{
    text.reserve(text.size() + bytes.size() * 3);
    for (char c : bytes) {
        const auto b = std::uint8_t(c);
        text += QLatin1Char(hexDigits[b >> 4]);
        text += QLatin1Char(hexDigits[b & 0x0F]);
        text += QLatin1Char(' ');
    }
}

QString HexText(const QByteArray &bytes)
{
    QString text;
    appendHexText(text, bytes);
    return text;
}

static int digitValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

int hexDigitAt(const QString &text, qsizetype pos)
{
    if (pos < 1 || pos > text.size())
        return -1;
    return digitValue(text[pos - 1]);
}

std::uint16_t registerAt(const QString &text, qsizetype pos)
{
    std::uint16_t value = 0;
    for (qsizetype p : {pos, pos + 1, pos + 3, pos + 4})
        value = std::uint16_t(value * 16 + qMax(0, hexDigitAt(text, p)));
    return value;
}

QByteArray bytesFromHexText(const QString &text, bool *ok)
{
    if (ok)
        *ok = false;
    if (text.size() % 3 != 0)
        return {};
    QByteArray bytes;
    bytes.reserve(text.size() / 3);
    for (qsizetype i = 0; i < text.size(); i += 3) {
        const int hi = digitValue(text[i]);
        const int lo = digitValue(text[i + 1]);
        if (hi < 0 || lo < 0 || text[i + 2] != QLatin1Char(' '))
            return {};
        bytes += char(hi * 16 + lo);
    }
    if (ok)
        *ok = true;
    return bytes;
}

bool AcceptReply(const QString &receiveHex, const QString &sendHex, int expectedBytes)
{
    if (expectedBytes < 3 || receiveHex.size() != qsizetype(expectedBytes) * 3)
        return false;
    if (sendHex.size() < 6 || receiveHex.left(6) != sendHex.left(6))
        return false;
    bool ok = false;
    const QByteArray reply = bytesFromHexText(receiveHex, &ok);
    if (!ok)
        return false;
    const qsizetype body = reply.size() - 2;
    const std::uint16_t crc = crc16Of(reply.constData(), body);
    return std::uint8_t(reply[body]) == (crc & 0xFF) && std::uint8_t(reply[body + 1]) == (crc >> 8);
}
