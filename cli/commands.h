// korvant-cli's subcommands over the core's cycles: each builds its frames and judges its replies
// through the same state machines the windows run, and gives an exit status. Each has a file of
// its own; they share a Context (context.h).
#pragma once

#include "commandline.h"

#include <QTextStream>

class Context;

int runCommand(const CliOptions &options, QTextStream &out, QTextStream &err);

int runScan(Context &c);
int runRead(Context &c);
int runWrite(Context &c);
int runSetAddress(Context &c);
int runSetComm(Context &c);
int runPoll(Context &c);
int runSurvey(Context &c);
int runFind(Context &c);
int runRaw(Context &c);
int runDoctor(Context &c);
