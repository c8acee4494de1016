#include "echo.h"

bool echoUnmistakable(const QByteArray &request)
{
    if (request.size() < 2)
        return false;
    const auto function = std::uint8_t(request[1]);
    return function >= 0x01 && function <= 0x04;
}

EchoSplit splitEcho(const QByteArray &received, const QByteArray &request, int expectedBytes, bool echoKnown)
{
    EchoSplit split;
    split.reply = received;
    if (request.isEmpty() || !received.startsWith(request))
        return split;
    const QByteArray rest = received.mid(request.size());
    if (!echoKnown) {
        const ReplyVerdict whole = judgeReply(received, request, expectedBytes);
        const ReplyVerdict after = judgeReply(rest, request, expectedBytes);
        // The request alone could still be some odd module's valid reply: then it is taken as one.
        // A write's bytes equal to its request are its reply as likely as its echo.
        const bool valid = after.accepted() || after.refusal == Refusal::Exception;
        const bool echoAlone = rest.isEmpty() && echoUnmistakable(request);
        if (whole.accepted() || !(echoAlone || valid))
            return split;
        split.learned = true;
    }
    split.echo = request;
    split.reply = rest;
    return split;
}

ReplyVerdict judgeSplit(const EchoSplit &split, const QByteArray &request, int expectedBytes)
{
    ReplyVerdict verdict = judgeReply(split.reply, request, expectedBytes);
    verdict.echoOnly = verdict.refusal == Refusal::NoReply && !split.echo.isEmpty();
    return verdict;
}

bool echoPending(const QByteArray &received, const QByteArray &request, bool echoKnown)
{
    return (echoKnown || echoUnmistakable(request)) && received.size() < request.size() && request.startsWith(received);
}
