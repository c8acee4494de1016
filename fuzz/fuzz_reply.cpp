// The receive path: bytes arriving in arbitrary pieces are collected as hex text the way a module
// window collects them and judged against each request the tool sends. What an accepted reply
// decodes to is pinned by test_core's tables.
//
// Input: request kind, module address, a word that picks output states, current and code, then
// pieces of the stream, each a length byte (0..16) followed by that many bytes.
#include "conversions.h"
#include "fuzzinput.h"
#include "modbus.h"
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
            r << readInputsRequest(a, row.inputs());
        if (row.channels() > 0)
            r << readRegistersRequest(a, row.channels());
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
    bool ok = false;
    FUZZ_CHECK(receiveHex == HexText(stream) && bytesFromHexText(receiveHex, &ok) == stream && ok);

    // The verdict agrees with the windows' check on text; only a reply of the expected length, with
    // the request's address and function and a correct CRC, is accepted. The reasons for refusing
    // known replies are test_core's.
    const ReplyVerdict verdict = judgeReply(stream, request, expected);
    FUZZ_CHECK(AcceptReply(receiveHex, sendHex, expected) == verdict.accepted());
    FUZZ_CHECK((verdict.refusal == Refusal::NoReply) == stream.isEmpty());
    FUZZ_CHECK(verdict.accepted() == (stream.size() == expected && stream.left(2) == request.left(2) && crcOk(stream)));
    return 0;
}
