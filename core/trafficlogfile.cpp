#include "trafficlogfile.h"

TrafficLogFile::TrafficLogFile(const QString &path, std::function<void(const QString &)> failure)
    : m_file(path), m_failure(std::move(failure))
{
}

void TrafficLogFile::write(const QString &caption, const TrafficRow &row)
{
    if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        failed();
        return;
    }
    const QByteArray line = (trafficLogLine(caption, row) + QLatin1Char('\n')).toUtf8();
    if (m_file.write(line) != line.size() || !m_file.flush()) {
        failed();
        return;
    }
    m_failed = false;
}

void TrafficLogFile::failed()
{
    const bool first = !m_failed;
    const QString why = m_file.errorString();
    // Marked before it is told: a message box runs an event loop, in which more frames come.
    m_failed = true;
    m_file.close(); // the next line tries again: the disk may have room by then
    if (first && m_failure)
        m_failure(why);
}
