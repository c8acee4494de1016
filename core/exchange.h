// One request and its reply as a value: the request's bytes, the reply length that follows from
// them, the verdict on what came back with its reason, and the values an accepted reply carries.
// Every exchange of the tool, in a window, korvant-cli or a bench, is judged and decoded here.
#pragma once

#include "decoders.h"
#include "echo.h"
#include "framing.h"
#include "modbus.h"

#include <QByteArray>
#include <QList>

#include <cstdint>

struct Exchange {
    Exchange() = default;
    // A request judged at the length of its own normal reply.
    explicit Exchange(QByteArray frame) : request(std::move(frame)), replyLength(expectedReplyLength(request)) {}
    // A request judged at another length (a read cycle judges whatever request went last at its
    // own read's length: a write's echo arriving for a read time-out is no read reply).
    Exchange(QByteArray frame, int length) : request(std::move(frame)), replyLength(length) {}

    // The request as it goes over the wire in the exchange's framing.
    QByteArray wire() const { return framing.wrap(request); }
    // Whether the bytes so far can be judged without waiting for more: as long as the request
    // asks for, or a whole exception frame, after the request's echo where one may come (a
    // single-register write's bytes equal to its request are not: its reply may follow them).
    // Over MBAP: once the frame its header announces has come whole.
    bool complete(const QByteArray &bytes) const;
    // Judges what came back, the echo set aside (echoKnown is set when the bytes show the line
    // echoes), keeps the rest as the reply, and gives the verdict. Over MBAP there is no echo; the
    // reply kept is the unit's frame after the header (unit id, function, data).
    const ReplyVerdict &judge(const QByteArray &bytes);
    bool accepted() const { return verdict.accepted(); }

    // The values of an accepted reply; empty for any other.
    QList<bool> inputs(int count) const { return accepted() ? digitalInputs(reply, count) : QList<bool>(); }
    QList<std::uint16_t> registers(int count) const
    {
        return accepted() ? registerValues(reply, count) : QList<std::uint16_t>();
    }

    QByteArray request; // as RTU, whatever the framing
    int replyLength = 0; // as RTU
    Framing framing;
    bool echoKnown = false; // the line hands every request back before the reply
    QByteArray echo;        // the request's echo set aside from what came back
    QByteArray reply;
    ReplyVerdict verdict{Refusal::NoReply};
};
