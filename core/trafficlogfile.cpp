#include "trafficlogfile.h"

TrafficLogFile::TrafficLogFile(const QString &path, std::function<void(const QString &)> tell)
    : m_file(path, QStringLiteral("traffic log"), {}, std::move(tell))
{
}

void TrafficLogFile::write(const QString &caption, const TrafficRow &row)
{
    m_file.write((trafficLogLine(caption, row) + QLatin1Char('\n')).toUtf8(), 1, row.wallMs);
}
