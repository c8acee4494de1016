#include "trafficlogfile.h"

TrafficLogFile::TrafficLogFile(const QString &path, std::function<void(const QString &)> failure)
    : m_file(path), m_failure(std::move(failure))
{
}

void TrafficLogFile::write(const QString &caption, const TrafficRow &row)
{
    if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        logLineFailed(m_file, m_failed, m_failure);
        return;
    }
    const QByteArray line = (trafficLogLine(caption, row) + QLatin1Char('\n')).toUtf8();
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        logLineFailed(m_file, m_failed, m_failure);
        return;
    }
    m_failed = false;
}
