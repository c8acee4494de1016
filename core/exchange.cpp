#include "exchange.h"

bool Exchange::complete(const QByteArray &bytes) const
{
    if (framing.mbap()) {
        const int length = mbapFrameLength(bytes);
        return length > 0 && bytes.size() >= length;
    }
    if (echoPending(bytes, request, echoKnown))
        return false;
    // A read's reply that begins with the read's own bytes and is valid whole is judged whole
    // (splitEcho keeps it so), so it needs no more bytes either.
    if (!echoKnown && echoUnmistakable(request) && bytes.startsWith(request)
        && judgeReply(bytes, request, replyLength).accepted())
        return true;
    // Bytes that begin with the request may be its echo, whatever the request: a write's reply
    // that equals its request could still be followed by the reply after an echo, so it is
    // judged when the wait ends.
    const QByteArray rest = !request.isEmpty() && bytes.startsWith(request) ? bytes.mid(request.size()) : bytes;
    return rest.size() >= replyLength || (request.size() > 1 && isExceptionFrame(rest, std::uint8_t(request[1])));
}

const ReplyVerdict &Exchange::judge(const QByteArray &bytes)
{
    if (framing.mbap()) {
        echo.clear();
        verdict = judgeMbapReply(bytes, request, replyLength, framing.transaction, &reply);
        return verdict;
    }
    const EchoSplit split = splitEcho(bytes, request, replyLength, echoKnown);
    echoKnown = echoKnown || split.learned;
    echo = split.echo;
    reply = split.reply;
    verdict = judgeSplit(split, request, replyLength);
    return verdict;
}
