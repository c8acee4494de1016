#include "windowvalues.h"

#include <QDateTime>

static std::function<void(const QVector<ValueRow> &)> &programSink()
{
    static std::function<void(const QVector<ValueRow> &)> sink;
    return sink;
}

static std::function<qint64()> &clockSlot()
{
    static std::function<qint64()> clock;
    return clock;
}

void WindowValues::setProgramSink(std::function<void(const QVector<ValueRow> &)> sink)
{
    programSink() = std::move(sink);
}

void WindowValues::setClock(std::function<qint64()> clock)
{
    clockSlot() = std::move(clock);
}

qint64 WindowValues::now()
{
    return clockSlot() ? clockSlot()() : QDateTime::currentMSecsSinceEpoch();
}

void WindowValues::add(const QVector<ValueRow> &rows)
{
    if (programSink())
        programSink()(rows);
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
