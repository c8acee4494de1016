// --traffic-log FILE: every frame of every window appended to one file, a line each (date and
// time, window caption, TX or RX, hex, verdict, tab-separated), written out at once so an
// unattended run loses at most the line being written. A failed write (disk full, folder gone)
// is told once; polling goes on.
#pragma once

#include "trafficlog.h"
#include "valuelog.h"

#include <QFile>
#include <QString>

#include <functional>

class TrafficLogFile
{
public:
    // failure is told the first time a line cannot be written.
    TrafficLogFile(const QString &path, std::function<void(const QString &why)> failure);
    void write(const QString &caption, const TrafficRow &row);

private:
    QFile m_file;
    std::function<void(const QString &)> m_failure;
    bool m_failed = false;
};
