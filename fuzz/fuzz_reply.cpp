// The receive path: bytes arriving in arbitrary pieces are collected as hex text the way a module
// window collects them and judged against each request the tool sends. What an accepted reply
// decodes to is pinned by test_core's tables.
//
// Input: request kind, module address, a word that picks output states and a bit to flip, then
// pieces of the stream, each a length byte (0..16) followed by that many bytes.
#include "conversions.h"
#include "fuzzinput.h"
#include "modbus.h"
#include "models.h"

#include <QVector>

#include <functional>

namespace {

struct RequestKind {
    std::function<QByteArray(std::uint8_t address, std::uint16_t pick)> build;
};

QList<bool> picked(int count, std::uint16_t pick)
{
    QList<bool> states;
    for (int i = 0; i < count; ++i)
        states << bool((pick >> (i % 16)) & 1);
    return states;
}

// Every request the windows send, from the model table, and the settings window's three.
const QVector<RequestKind> &requestKinds()
{
    static const QVector<RequestKind> kinds = [] {
        QVector<RequestKind> k;
        for (const ModelRow &row : modelTable()) {
            const int inputs = row.inputs(), outputs = row.outputs(), channels = row.channels();
            if (inputs > 0)
                k.append({[inputs](std::uint8_t a, std::uint16_t) { return readInputsRequest(a, inputs); }});
            if (channels > 0)
                k.append({[channels](std::uint8_t a, std::uint16_t) { return readRegistersRequest(a, channels); }});
            if (outputs > 0)
                k.append({[outputs](std::uint8_t a, std::uint16_t p) { return writeCoilsRequest(a, picked(outputs, p)); }});
        }
        k.append({[](std::uint8_t a, std::uint16_t p) { return writeRegisterRequest(a, 0, p % 20001); }});
        k.append({[](std::uint8_t, std::uint16_t) { return parameterReadRequest(); }});
        k.append({[](std::uint8_t a, std::uint16_t) { return addressWriteRequest(a); }});
        k.append({[](std::uint8_t a, std::uint16_t p) { return commWriteRequest(a, std::uint8_t(1 + p % 8)); }});
        return k;
    }();
    return kinds;
}

int byteAt(const QByteArray &b, int i)
{
    return std::uint8_t(b[i]);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const QVector<RequestKind> &kinds = requestKinds();
    const RequestKind &k = kinds[in.byte() % kinds.size()];
    const std::uint8_t address = in.byte();
    const std::uint16_t pick = in.word();

    const QByteArray request = k.build(address, pick);
    const int expected = expectedReplyLength(request);
    const QString sendHex = HexText(request);
    FUZZ_CHECK(crcOk(request) && expected >= 6 && sendHex.size() == 3 * request.size());

    QString receiveHex;
    QByteArray stream;
    while (!in.atEnd()) {
        const QByteArray piece = in.bytes(in.byte() % 17);
        appendHexText(receiveHex, piece);
        stream += piece;
    }
    // However the stream was cut, the text is the same, and it reads back.
    FUZZ_CHECK(receiveHex == HexText(stream));
    bool ok = false;
    FUZZ_CHECK(bytesFromHexText(receiveHex, &ok) == stream && ok);

    // The verdict agrees with the windows' check on text, and its reason with the bytes.
    const ReplyVerdict verdict = judgeReply(stream, request, expected);
    FUZZ_CHECK(AcceptReply(receiveHex, sendHex, expected) == verdict.accepted());
    FUZZ_CHECK((verdict.refusal == Refusal::NoReply) == stream.isEmpty());
    switch (verdict.refusal) {
    case Refusal::NoReply: break;
    case Refusal::Exception:
        FUZZ_CHECK(stream.size() == 5 && byteAt(stream, 1) == (byteAt(request, 1) | 0x80) && crcOk(stream));
        break;
    case Refusal::Short: FUZZ_CHECK(stream.size() < expected || stream.size() < 3); break;
    case Refusal::Long: FUZZ_CHECK(stream.size() > expected); break;
    case Refusal::None:
        FUZZ_CHECK(stream.size() == expected && stream.left(2) == request.left(2) && crcOk(stream));
        break;
    default: FUZZ_CHECK(stream.size() == expected); break;
    }

    // The stream made into a sound reply (right head and length, correct CRC) is accepted; one
    // flipped bit, a byte less or a byte more is not.
    QByteArray body = stream.left(expected - 2);
    body.resize(expected - 2, '\0');
    body[0] = request[0];
    body[1] = request[1];
    const QByteArray good = withCrc(body);
    FUZZ_CHECK(Crc16(body, std::uint8_t(expected - 3)) == good);
    FUZZ_CHECK(judgeReply(good, request, expected).accepted());
    QByteArray flipped = good;
    const int bit = pick % int(good.size() * 8);
    flipped[bit / 8] = char(byteAt(flipped, bit / 8) ^ (1 << (bit % 8)));
    FUZZ_CHECK(!judgeReply(flipped, request, expected).accepted());
    FUZZ_CHECK(judgeReply(good.chopped(1), request, expected).refusal == Refusal::Short);
    FUZZ_CHECK(judgeReply(good + '\0', request, expected).refusal == Refusal::Long);
    return 0;
}
