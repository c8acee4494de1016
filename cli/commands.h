// korvant-cli's subcommands over the core's cycles: each builds its frames and judges its replies
// through the same state machines the windows run, and gives an exit status.
#pragma once

#include "commandline.h"

#include <QTextStream>

int runCommand(const CliOptions &options, QTextStream &out, QTextStream &err);
