// korvant-cli find: the core's bus finder driven over the session's line, one probe at a time.
#pragma once

#include "commandline.h"

#include <QTextStream>

class Session;

int runFind(const CliOptions &options, Session &session, QTextStream &out, QTextStream &err);
