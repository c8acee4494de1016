#include "exchange.h"

bool Exchange::complete(const QByteArray &bytes) const
{
    return bytes.size() >= replyLength || (request.size() > 1 && isExceptionFrame(bytes, std::uint8_t(request[1])));
}

const ReplyVerdict &Exchange::judge(const QByteArray &bytes)
{
    reply = bytes;
    verdict = judgeReply(reply, request, replyLength);
    return verdict;
}
