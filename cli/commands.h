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
int runSite(Context &c);
int runCheckout(Context &c);

// find's sweep over the session's line, with --codes, --from, --to, --turnaround and --timeout;
// false when the line failed (the session said why).
struct FinderOptions;
class BusFinder;
FinderOptions finderOptions(const Context &c);
bool sweepLine(Context &c, BusFinder &finder);
