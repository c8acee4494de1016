// --traffic-log FILE: every frame of every window appended to one file, a line each (date and
// time, window caption, TX or RX, hex, verdict, tab-separated), written as LogFile writes a line:
// at once (an unattended run loses at most the line being written), a failure (disk full, folder
// gone) told once with its cause and the lines lost told when writing resumes, a file removed
// under it made again. Polling goes on.
#pragma once

#include "logfile.h"
#include "trafficlog.h"

#include <QString>

#include <functional>

class TrafficLogFile
{
public:
    // tell: LogFile's sentences, naming the log "traffic log".
    TrafficLogFile(const QString &path, std::function<void(const QString &message)> tell);
    void write(const QString &caption, const TrafficRow &row);

private:
    LogFile m_file;
};
