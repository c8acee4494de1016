// What the line doctor tells about a line: what the broadcast parameter read brought back at one
// setting, and what a USB-serial adapter's latency timer costs.
#pragma once

#include "exchange.h"

#include <QString>

enum class Hearing { Nothing, Module, Several, Echo, Garbage };

// The broadcast parameter read's exchange, judged: nothing; a module (a valid reply or an
// exception); several modules (replies laid over each other: the reply's length and head, a bad
// CRC); the echo alone; anything else is garbage.
Hearing hearSetting(const Exchange &judged);
// "nothing", "a module", "several modules", "echo", "garbage".
QString hearingText(Hearing hearing);

// A latency timer above this holds every reply back noticeably.
constexpr int kSlowLatencyMs = 2;
// What a latency timer of latencyMs costs on device ("/dev/ttyUSB0") and how to lower it; empty
// for a timer that costs nothing (or none known, -1).
QString latencyAdvice(const QString &device, int latencyMs);
