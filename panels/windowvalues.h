// Where a test window's accepted values go: the program's value log (--value-log, every window
// that reads), the window's trend (kept from the first time its trend window opens, so closing
// and opening it again keeps the hour) and the trend window's own "Log values…" file.
#pragma once

#include "trend.h"
#include "valuelog.h"

#include <functional>
#include <memory>

class WindowValues
{
public:
    // Every window's rows as they come (the --value-log file).
    static void setProgramSink(std::function<void(const QVector<ValueRow> &)> sink);
    // The wall clock the rows are stamped with; tests set a fake one (null: the real clock).
    static void setClock(std::function<qint64()> clock);
    static qint64 now();

    void add(const QVector<ValueRow> &rows);
    // The trend, from now on fed; null until then.
    Trend *trend() const { return m_trend.get(); }
    Trend &startTrend();
    // This window's own log ("Log values…"); replacing it closes the one before.
    void setLog(std::unique_ptr<ValueLog> log) { m_log = std::move(log); }
    ValueLog *log() const { return m_log.get(); }

private:
    std::unique_ptr<Trend> m_trend;
    std::unique_ptr<ValueLog> m_log;
};
