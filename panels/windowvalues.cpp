#include "windowvalues.h"

#include <QDateTime>

static std::function<void(const QVector<ValueRow> &)> g_programSink;
static std::function<qint64()> g_clock;

void WindowValues::setProgramSink(std::function<void(const QVector<ValueRow> &)> sink)
{
    g_programSink = std::move(sink);
}

void WindowValues::setClock(std::function<qint64()> clock)
{
    g_clock = std::move(clock);
}

qint64 WindowValues::now()
{
    return g_clock ? g_clock() : QDateTime::currentMSecsSinceEpoch();
}

void WindowValues::add(const QVector<ValueRow> &rows)
{
    if (g_programSink)
        g_programSink(rows);
    if (m_trend)
        m_trend->add(rows);
    if (m_log)
        m_log->write(rows);
}

Trend &WindowValues::startTrend()
{
    if (!m_trend)
        m_trend = std::make_unique<Trend>();
    return *m_trend;
}
