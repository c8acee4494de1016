#include "modbus.h"

#include <array>

// The one CRC-16/MODBUS of the tool (polynomial 0xA001, reflected, from 0xFFFF), a byte at a time
// from a table. Kept as two bytes, low and high, exactly as the module firmware documents it.
static constexpr std::array<std::uint16_t, 256> kCrcTable = [] {
    std::array<std::uint16_t, 256> table{};
    for (unsigned n = 0; n < 256; ++n) {
        std::uint16_t crc = std::uint16_t(n);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? std::uint16_t((crc >> 1) ^ 0xA001) : std::uint16_t(crc >> 1);
        table[n] = crc;
    }
    return table;
}();

static void crcOf(const char *bytes, qsizetype len, std::uint8_t &crcLo, std::uint8_t &crcHi)
{
    std::uint16_t crc = 0xFFFF;
    for (qsizetype i = 0; i < len; ++i)
        crc = std::uint16_t((crc >> 8) ^ kCrcTable[(crc ^ std::uint8_t(bytes[i])) & 0xFF]);
    crcLo = std::uint8_t(crc & 0xFF);
    crcHi = std::uint8_t(crc >> 8);
}

QByteArray withCrc(const QByteArray &payload)
{
    std::uint8_t lo = 0, hi = 0;
    crcOf(payload.constData(), payload.size(), lo, hi);
    QByteArray frame = payload;
    frame += char(lo);
    frame += char(hi);
    return frame;
}

QByteArray Crc16(const QByteArray &data, std::uint8_t lastIndex)
{
    QByteArray payload = data.left(qsizetype(lastIndex) + 1);
    payload.resize(qsizetype(lastIndex) + 1, '\0');
    return withCrc(payload);
}

bool crcOk(const QByteArray &frame)
{
    if (frame.size() < 3)
        return false;
    std::uint8_t lo = 0, hi = 0;
    crcOf(frame.constData(), frame.size() - 2, lo, hi);
    return std::uint8_t(frame[frame.size() - 2]) == lo && std::uint8_t(frame[frame.size() - 1]) == hi;
}

// A byte of a frame, or -1 past its end, so that a missing byte never matches.
static int byteAt(const QByteArray &b, qsizetype i)
{
    return i >= 0 && i < b.size() ? std::uint8_t(b[i]) : -1;
}

std::uint16_t wordAt(const QByteArray &b, qsizetype at)
{
    return std::uint16_t(qMax(0, byteAt(b, at)) << 8 | qMax(0, byteAt(b, at + 1)));
}

void appendWord(QByteArray &b, std::uint16_t v)
{
    b += char(v >> 8);
    b += char(v & 0xFF);
}

QByteArray packBits(const QList<bool> &bits)
{
    QByteArray data((bits.size() + 7) / 8, '\0');
    for (qsizetype i = 0; i < bits.size(); ++i)
        if (bits[i])
            data[i / 8] = char(std::uint8_t(data[i / 8]) | (1u << (i % 8)));
    return data;
}

QList<bool> unpackBits(const QByteArray &b, qsizetype at, int count)
{
    QList<bool> bits;
    for (int i = 0; i < count; ++i)
        bits << bool((qMax(0, byteAt(b, at + i / 8)) >> (i % 8)) & 1);
    return bits;
}

QByteArray exceptionPayload(std::uint8_t address, std::uint8_t function, std::uint8_t code)
{
    const char p[] = {char(address), char(function | 0x80), char(code)};
    return QByteArray(p, sizeof p);
}

static QByteArray framed(const QByteArray &payload)
{
    return Crc16(payload, std::uint8_t(payload.size() - 1));
}

static QByteArray head(std::uint8_t address, std::uint8_t function, std::uint16_t start, std::uint16_t word)
{
    QByteArray p;
    p += char(address);
    p += char(function);
    appendWord(p, start);
    appendWord(p, word);
    return p;
}

QByteArray readRequest(std::uint8_t address, std::uint8_t function, std::uint16_t start, std::uint16_t count)
{
    return framed(head(address, function, start, count));
}

QByteArray writeCoilsRequest(std::uint8_t address, const QList<bool> &states)
{
    const int count = int(states.size());
    QByteArray p = head(address, 0x0F, 0, std::uint16_t(count));
    p += char((count + 7) / 8);
    return framed(p + packBits(states));
}

QByteArray writeRegisterRequest(std::uint8_t address, std::uint16_t reg, std::uint16_t value)
{
    return framed(head(address, 0x06, reg, value));
}

QByteArray parameterReadRequest(std::uint8_t address)
{
    return readRequest(address, 0x03, kAddressRegister, 3);
}

QByteArray addressWriteRequest(std::uint8_t newAddress)
{
    return addressWriteTo(0, newAddress);
}

QByteArray addressWriteTo(std::uint8_t module, std::uint8_t newAddress)
{
    return writeRegisterRequest(module, kAddressRegister, newAddress);
}

QByteArray commWriteRequest(std::uint8_t address, std::uint8_t code)
{
    return writeRegisterRequest(address, kCodeRegister, code);
}

int replyLength(std::uint8_t function, std::uint16_t count)
{
    switch (function) {
    case 0x01:
    case 0x02: return 5 + (count + 7) / 8;
    case 0x03: return 5 + 2 * count;
    case 0x06:
    case 0x0F: return kEchoLength;
    default: return 0;
    }
}

int expectedReplyLength(const QByteArray &request)
{
    if (request.size() < 6)
        return 0;
    return replyLength(std::uint8_t(request[1]), wordAt(request, 4));
}

int requestLength(const QByteArray &bytes)
{
    if (bytes.size() < 2)
        return 0;
    switch (std::uint8_t(bytes[1])) {
    case 0x01: case 0x02: case 0x03: case 0x04: case 0x05: case 0x06:
        return 8;
    case 0x0F: case 0x10:
        return bytes.size() < 7 ? 0 : 9 + std::uint8_t(bytes[6]);
    default:
        return 0;
    }
}

bool isExceptionFrame(const QByteArray &reply, int function)
{
    return reply.size() == 5 && function >= 0 && function < 0x80 && std::uint8_t(reply[1]) == (function | 0x80)
           && crcOk(reply);
}


// The rule of both framings: crcBytes is 2 for an RTU frame, 0 for a unit's frame out of MBAP.
static ReplyVerdict judgeFrame(const QByteArray &reply, const QByteArray &request, int expectedBytes, int crcBytes)
{
    const int address = byteAt(request, 0);
    const int function = byteAt(request, 1);
    if (reply.isEmpty())
        return {Refusal::NoReply};
    const bool exception = crcBytes ? isExceptionFrame(reply, function)
                                    : reply.size() == 3 && function >= 0 && function < 0x80 && byteAt(reply, 1) == (function | 0x80);
    if (byteAt(reply, 0) == address && exception)
        return {Refusal::Exception, std::uint8_t(reply[2]), false, !crcBytes};
    if (reply.size() < expectedBytes || reply.size() < 3)
        return {Refusal::Short};
    if (reply.size() > expectedBytes)
        return {Refusal::Long};
    if (byteAt(reply, 0) != address)
        return {Refusal::OtherAddress};
    if (byteAt(reply, 1) != function)
        return {Refusal::OtherFunction};
    if (crcBytes && !crcOk(reply))
        return {Refusal::BadCrc};
    return {};
}

ReplyVerdict judgeReply(const QByteArray &reply, const QByteArray &request, int expectedBytes)
{
    return judgeFrame(reply, request, expectedBytes, 2);
}

ReplyVerdict judgeUnitReply(const QByteArray &reply, const QByteArray &request, int expectedBytes)
{
    return judgeFrame(reply, request, expectedBytes, 0);
}

QString exceptionName(std::uint8_t code, bool gateway)
{
    if (gateway && (code == 10 || code == 11))
        return code == 10 ? QStringLiteral("path unavailable") : QStringLiteral("target failed to respond");
    static const char *const names[] = {"illegal function", "illegal data address", "illegal data value",
                                        "device failure", "acknowledge", "device busy"};
    if (code >= 1 && code <= 6)
        return QString::fromLatin1(names[code - 1]);
    return QStringLiteral("exception %1").arg(code);
}

QString ReplyVerdict::reason() const
{
    switch (refusal) {
    case Refusal::None: return QStringLiteral("OK");
    case Refusal::NoReply:
        return echoOnly ? QStringLiteral("time-out (no byte), echo only") : QStringLiteral("time-out (no byte)");
    case Refusal::Exception: return QStringLiteral("exception %1: %2").arg(exceptionCode).arg(exceptionName(exceptionCode, gateway));
    case Refusal::Short: return QStringLiteral("short");
    case Refusal::Long: return QStringLiteral("long");
    case Refusal::OtherAddress: return QStringLiteral("other address");
    case Refusal::OtherFunction: return QStringLiteral("other function");
    case Refusal::BadCrc: return QStringLiteral("bad CRC");
    case Refusal::OtherTransaction: return QStringLiteral("other transaction");
    case Refusal::BadHeader: return QStringLiteral("bad header");
    }
    return {};
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
