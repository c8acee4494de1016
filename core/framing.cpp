#include "framing.h"

// A header for a unit's frame of n bytes (unit id, function, data).
static QByteArray mbapHeader(std::uint16_t transaction, int n)
{
    QByteArray h;
    appendWord(h, transaction);
    appendWord(h, 0);
    appendWord(h, std::uint16_t(n));
    return h;
}

QByteArray Framing::wrap(const QByteArray &rtuRequest) const
{
    if (!mbap() || rtuRequest.size() < 2)
        return rtuRequest;
    const qsizetype unitBytes = rtuRequest.size() - 2; // the CRC stays behind
    return mbapHeader(transaction, int(unitBytes)) + rtuRequest.left(unitBytes);
}

int Framing::rtuLength(int wireLength) const
{
    return mbap() && wireLength > 0 ? qMax(0, wireLength - kMbapHeaderLength + 3) : wireLength;
}

int mbapFrameLength(const QByteArray &bytes)
{
    return bytes.size() < 6 ? 0 : 6 + wordAt(bytes, 4);
}

ReplyVerdict judgeMbapReply(const QByteArray &reply, const QByteArray &rtuRequest, int rtuExpected,
                            std::uint16_t transaction, QByteArray *unitFrame)
{
    if (unitFrame)
        *unitFrame = reply.size() < kMbapHeaderLength ? reply : reply.mid(6);
    if (reply.isEmpty())
        return {Refusal::NoReply};
    if (reply.size() < kMbapHeaderLength)
        return {Refusal::Short};
    const int length = wordAt(reply, 4);
    if (wordAt(reply, 2) != 0 || length < 2)
        return {Refusal::BadHeader};
    if (wordAt(reply, 0) != transaction)
        return {Refusal::OtherTransaction};
    if (reply.size() - 6 < length)
        return {Refusal::Short};
    if (reply.size() - 6 > length)
        return {Refusal::BadHeader};
    return judgeUnitReply(reply.mid(6), rtuRequest, rtuExpected > 0 ? rtuExpected - 2 : 0);
}

QByteArray mbapToRtu(const QByteArray &mbapRequest)
{
    const int length = mbapFrameLength(mbapRequest);
    if (length < kMbapHeaderLength + 1 || mbapRequest.size() < length || wordAt(mbapRequest, 2) != 0)
        return {};
    return withCrc(mbapRequest.mid(6, length - 6));
}

QByteArray gatewayReply(const QByteArray &mbapRequest, const QByteArray &rtuReply, bool silent)
{
    const std::uint16_t transaction = wordAt(mbapRequest, 0);
    const auto byte = [&](int i) { return std::uint8_t(i < mbapRequest.size() ? mbapRequest[i] : 0); };
    if (rtuReply.size() >= 4 && crcOk(rtuReply))
        return mbapHeader(transaction, int(rtuReply.size() - 2)) + rtuReply.left(rtuReply.size() - 2);
    if (silent || byte(6) == 0)
        return {};
    return mbapHeader(transaction, 3) + exceptionPayload(byte(6), byte(7), 0x0B);
}
