// korvant-cli doctor: what is wrong with the line rather than the module. The system's serial
// ports with their rights and latency timers, and with --port, what the broadcast parameter read
// hears at each of the eight settings.
#pragma once

#include "commandline.h"

#include <QTextStream>

int runDoctor(const CliOptions &options, QTextStream &out, QTextStream &err,
              const QString &devRoot = QStringLiteral("/dev"), const QString &sysRoot = QStringLiteral("/sys"));
