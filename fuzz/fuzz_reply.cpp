// The receive path: bytes arriving in arbitrary pieces are collected the way a module window
// collects them and judged against each request the tool sends. What an accepted reply
// decodes to is pinned by test_core's tables.
//
// Input: request kind (its top bit: the line's echo is known), module address, a word that picks
// output states, current and code, then pieces of the stream, each a length byte (0..16)
// followed by that many bytes.
#include "conversions.h"
#include "fuzzinput.h"
#include "exchange.h"
#include "models.h"

#include <QVector>

namespace {

// Every request the windows send, from the model table, and the settings window's three; pick
// chooses the output states, the output current and the code.
QVector<QByteArray> requests(std::uint8_t a, std::uint16_t pick)
{
    QVector<QByteArray> r{writeRegisterRequest(a, 0, pick % 20001), parameterReadRequest(), addressWriteRequest(a),
                          commWriteRequest(a, std::uint8_t(1 + pick % 8))};
    for (const ModelRow &row : modelTable()) {
        if (row.inputs() > 0)
            r << readRequest(a, 0x02, 0, std::uint16_t(row.inputs()));
        if (row.channels() > 0)
            r << readRequest(a, 0x03, 0, std::uint16_t(row.channels()));
        QList<bool> states;
        for (int i = 0; i < row.outputs(); ++i)
            states << bool((pick >> (i % 16)) & 1);
        if (!states.isEmpty())
            r << writeCoilsRequest(a, states);
    }
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::uint8_t kind = in.byte(), address = in.byte();
    const QVector<QByteArray> all = requests(address, in.word());
    const QByteArray request = all[kind % all.size()];
    const int expected = expectedReplyLength(request);
    FUZZ_CHECK(crcOk(request) && expected >= 6 && requestLength(request) == request.size());

    QByteArray stream;
    while (!in.atEnd())
        stream += in.bytes(in.byte() % 17);
    // The text a window shows is three characters a byte and reads back to the bytes.
    const QString text = HexText(stream);
    FUZZ_CHECK(text.size() == 3 * stream.size() && QByteArray::fromHex(text.toLatin1()) == stream);

    // What came back is the echo set aside, if any (only ever the request itself, at the head), and
    // the reply. Only a reply of the expected length, with the request's address and function and
    // a correct CRC, is accepted; it and an exception needed no more waiting, but for bytes equal
    // to the request while the echo is unknown (a write's reply, or its echo with the reply to
    // come). The reasons for refusing known replies are test_core's.
    Exchange exchange(request);
    exchange.echoKnown = (kind & 0x80) != 0; // a line whose echo is already known
    const ReplyVerdict verdict = exchange.judge(stream);
    const QByteArray &reply = exchange.reply;
    FUZZ_CHECK((exchange.echo.isEmpty() || exchange.echo == request) && exchange.echo + reply == stream);
    FUZZ_CHECK((verdict.refusal == Refusal::NoReply) == reply.isEmpty());
    FUZZ_CHECK(verdict.accepted() == (reply.size() == expected && reply.left(2) == request.left(2) && crcOk(reply)));
    FUZZ_CHECK(!(verdict.accepted() || verdict.refusal == Refusal::Exception) || exchange.complete(stream)
               || (stream == request && !(kind & 0x80)));
    return 0;
}
