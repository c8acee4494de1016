// Two-wire RS-485 adapters often hand every request back to the PC before the module's reply.
// The rule for that echo, written once: when a line is known to echo, the request's bytes at the
// head of what arrived are set aside and the rest judged. A read shows the echo beyond doubt (a
// read's reply never begins with its own request), so the line learns it from one; a write shows it
// when its request is followed by a whole valid reply to it.
#pragma once

#include "modbus.h"

#include <QByteArray>

struct EchoSplit {
    QByteArray echo;  // the request's bytes set aside at the head; empty when none was
    QByteArray reply; // what is left to judge
    bool learned = false; // these bytes show the line echoes: the request, then a valid reply (or, for a read, nothing)
};

// True for the requests whose reply can never begin with the request itself: the reads.
bool echoUnmistakable(const QByteArray &request);
// Sets the echo aside when the line's echo is known, or when the bytes show it beyond doubt. A
// single-register write's reply equals its request: with the echo unknown, those bytes alone are
// taken as the reply, and only the request followed by a valid reply shows the echo.
EchoSplit splitEcho(const QByteArray &received, const QByteArray &request, int expectedBytes, bool echoKnown);
// The verdict on what came back with the echo set aside: judgeReply on the rest, and a time-out
// marked "echo only" when nothing but the echo came.
ReplyVerdict judgeSplit(const EchoSplit &split, const QByteArray &request, int expectedBytes);
// Whether bytes are still only a part of the request's echo, so that more must be waited for.
bool echoPending(const QByteArray &received, const QByteArray &request, bool echoKnown);
