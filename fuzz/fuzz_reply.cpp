// The receive path: bytes arriving in arbitrary pieces are collected as hex text the way a module
// window collects them, judged by AcceptReply against each request the tool sends, and an
// accepted reply is decoded the way the panels decode it.
//
// Input: request kind, module address, a bit number (2 bytes), then pieces of the stream, each a
// length byte (0..16) followed by that many bytes.
#include "conversions.h"
#include "fuzzinput.h"
#include "modbus.h"
#include "models.h"

#include <QVector>

#include <cmath>

namespace {

struct RequestKind {
    std::uint8_t function;
    std::uint16_t start;
    std::uint16_t count;
    int replyBytes;
    Conversion conversion;
};

// Every read the windows make, from the model table, and the settings window's parameter read;
// writes are answered by an 8-byte echo whatever they carry.
const QVector<RequestKind> &requestKinds()
{
    static const QVector<RequestKind> kinds = [] {
        QVector<RequestKind> k;
        for (const ModelRow &row : modelTable()) {
            if (row.inputs() > 0)
                k.append({0x02, 0, std::uint16_t(row.inputs()), 5 + (row.inputs() + 7) / 8, Conversion::None});
            if (row.channels() > 0)
                k.append({0x03, 0, std::uint16_t(row.channels()), 5 + 2 * row.channels(), row.conversion});
        }
        k.append({0x03, 100, 3, 11, Conversion::None});
        k.append({0x05, 0, 0xFF00, 8, Conversion::None});
        k.append({0x06, 0, 4000, 8, Conversion::None});
        k.append({0x06, 100, 7, 8, Conversion::None});
        k.append({0x0F, 0, 16, 8, Conversion::None});
        return k;
    }();
    return kinds;
}

int byteAt(const QByteArray &b, int i)
{
    return std::uint8_t(b[i]);
}

// "12.34" with exactly two decimals, as the output slider and the current/voltage texts show.
bool twoDecimals(const QString &s)
{
    const qsizetype dot = s.indexOf(QLatin1Char('.'));
    if (dot < 1 || s.size() - dot != 3)
        return false;
    for (qsizetype i = 0; i < s.size(); ++i)
        if (i != dot && !s[i].isDigit())
            return false;
    return true;
}

void checkConversion(Conversion conversion, std::uint16_t r)
{
    const QString text = convert(conversion, r);
    switch (conversion) {
    case Conversion::None:
        FUZZ_CHECK(text.isEmpty());
        return;
    case Conversion::Temperature: {
        FUZZ_CHECK(!text.isEmpty());
        if (r == 65535) {
            FUZZ_CHECK(text == kNotConnect);
            return;
        }
        FUZZ_CHECK(text.endsWith(QStringLiteral("℃")));
        const double shown = text.chopped(1).toDouble();
        const double tenths = r <= 9999 ? r : -double(r - 10000);
        FUZZ_CHECK(std::abs(shown * 10 - tenths) < 1e-6);
        return;
    }
    case Conversion::Current:
    case Conversion::Voltage: {
        const QString unit = conversion == Conversion::Current ? QStringLiteral("mA") : QStringLiteral("V");
        const double full = conversion == Conversion::Current ? 20 : 10;
        FUZZ_CHECK(text.endsWith(unit));
        const QString number = text.chopped(unit.size());
        FUZZ_CHECK(twoDecimals(number));
        FUZZ_CHECK(std::abs(number.toDouble() - r * full / 4095) <= 0.005 + 1e-9);
        return;
    }
    case Conversion::WholeDegrees:
        FUZZ_CHECK(!text.isEmpty());
        FUZZ_CHECK((r <= 1000) == (text != kNotConnect));
        if (r <= 1000)
            FUZZ_CHECK(text == QString::number(r) + QStringLiteral("℃"));
        return;
    }
    FUZZ_CHECK(false);
}

void checkOutputCurrent(int position)
{
    const QString text = outputCurrentText(position);
    FUZZ_CHECK(twoDecimals(text));
    const int hundredths = qRound(text.toDouble() * 100);
    FUZZ_CHECK(std::abs(hundredths * 10 - position) <= 5);
    if (position % 10 == 5)
        FUZZ_CHECK(hundredths % 2 == 0);
}

// An accepted reply read back the way the windows read it.
void decode(const RequestKind &k, const QString &text, const QByteArray &reply)
{
    if (k.function == 0x03) {
        for (int i = 0; i < k.count; ++i) {
            const std::uint16_t r = registerAt(text, 6 * i + 10);
            FUZZ_CHECK(r == (byteAt(reply, 3 + 2 * i) << 8 | byteAt(reply, 4 + 2 * i)));
            checkConversion(k.conversion, r);
            checkOutputCurrent(r % 20001);
        }
    } else if (k.function == 0x02) {
        // The digital panels look at one hex digit per four inputs: the low digit of data byte k
        // holds inputs 8k+1..8k+4, the high digit 8k+5..8k+8, least significant bit first.
        for (int i = 0; i < k.count; ++i) {
            const int byte = i / 8;
            const int position = (i % 8) < 4 ? 11 + 3 * byte : 10 + 3 * byte;
            const int digit = hexDigitAt(text, position);
            FUZZ_CHECK(digit >= 0);
            FUZZ_CHECK(((digit >> (i % 4)) & 1) == ((byteAt(reply, 3 + byte) >> (i % 8)) & 1));
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const QVector<RequestKind> &kinds = requestKinds();
    const RequestKind &k = kinds[in.byte() % kinds.size()];
    const std::uint8_t address = in.byte();
    const int flipBit = in.word();

    QByteArray payload(6, '\0');
    payload[0] = char(address);
    payload[1] = char(k.function);
    payload[2] = char(k.start >> 8);
    payload[3] = char(k.start & 0xFF);
    payload[4] = char(k.count >> 8);
    payload[5] = char(k.count & 0xFF);
    const QByteArray request = Crc16(payload, 5);
    const QString sendHex = HexText(request);
    FUZZ_CHECK(request.size() == 8 && sendHex.size() == 24);
    FUZZ_CHECK(crc16Of(request.constData(), 8) == 0); // a frame with its CRC leaves no remainder

    QString receiveHex;
    QByteArray stream;
    while (!in.atEnd()) {
        const QByteArray piece = in.bytes(in.byte() % 17);
        appendHexText(receiveHex, piece);
        stream += piece;
        FUZZ_CHECK(receiveHex.size() == 3 * stream.size());
    }
    // However the stream was cut, the text is the same.
    FUZZ_CHECK(receiveHex == HexText(stream));
    bool ok = false;
    FUZZ_CHECK(bytesFromHexText(receiveHex, &ok) == stream && ok);
    for (qsizetype pos = -1; pos <= receiveHex.size() + 5; ++pos) {
        const int digit = hexDigitAt(receiveHex, pos);
        if (pos < 1 || pos > receiveHex.size() || pos % 3 == 0) {
            FUZZ_CHECK(digit == -1);
        } else {
            const int b = byteAt(stream, int((pos - 1) / 3));
            FUZZ_CHECK(digit == (pos % 3 == 1 ? b >> 4 : b & 0x0F));
        }
    }
    FUZZ_CHECK(registerAt(receiveHex, receiveHex.size() + 1) == 0);
    FUZZ_CHECK(registerAt(receiveHex, -4 - flipBit) == 0);

    if (AcceptReply(receiveHex, sendHex, k.replyBytes)) {
        FUZZ_CHECK(stream.size() == k.replyBytes);
        FUZZ_CHECK(byteAt(stream, 0) == address && byteAt(stream, 1) == k.function);
        // The firmware-style CRC agrees with the one the judgement used.
        FUZZ_CHECK(Crc16(stream, std::uint8_t(k.replyBytes - 3)) == stream);
        decode(k, receiveHex, stream);
    }

    // The stream made into a sound reply (right head and length, correct CRC) is accepted; one
    // flipped bit, a byte less or a byte more is not.
    QByteArray body = stream.left(k.replyBytes - 2);
    body.resize(k.replyBytes - 2, '\0');
    body[0] = char(address);
    body[1] = char(k.function);
    const QByteArray good = Crc16(body, std::uint8_t(k.replyBytes - 3));
    const QString goodHex = HexText(good);
    FUZZ_CHECK(AcceptReply(goodHex, sendHex, k.replyBytes));
    decode(k, goodHex, good);
    QByteArray flipped = good;
    const int bit = flipBit % int(good.size() * 8);
    flipped[bit / 8] = char(byteAt(flipped, bit / 8) ^ (1 << (bit % 8)));
    FUZZ_CHECK(!AcceptReply(HexText(flipped), sendHex, k.replyBytes));
    FUZZ_CHECK(!AcceptReply(HexText(good.chopped(1)), sendHex, k.replyBytes));
    FUZZ_CHECK(!AcceptReply(goodHex + HexText(stream.left(1).isEmpty() ? QByteArray(1, '\0') : stream.left(1)),
                            sendHex, k.replyBytes));
    FUZZ_CHECK(!AcceptReply(goodHex.toLower(), sendHex, k.replyBytes) || goodHex == goodHex.toLower());
    return 0;
}
