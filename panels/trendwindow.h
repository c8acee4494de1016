// "Trend - <caption>": a module window's values over the last 1, 5, 15 or 60 minutes, a line
// per channel in the window's unit, each in a colour of its own, digital inputs as steps on an
// axis of their own whose lanes are labelled with their channels. It draws
// the window's Trend (core/trend.h), reduced to the chart's width, a few times a second; the
// values come in whether it is shown or paused.
#pragma once

#include "conversions.h"
#include "models.h"
#include "trend.h"

#include <QList>
#include <QWidget>

#include <functional>

class QCategoryAxis;
class QChart;
class QChartView;
class QComboBox;
class QDateTimeAxis;
class QGraphicsLineItem;
class QLabel;
class QLineSeries;
class QPushButton;
class QTimer;
class QValueAxis;
class WindowValues;

class TrendWindow : public QWidget
{
    Q_OBJECT
public:
    TrendWindow(const Trend *trend, WindowValues *values, const QString &caption, Conversion conversion,
                QWidget *parent = nullptr);

    // The file dialogs of "Save PNG…", "Save CSV…" and "Log values…"; tests answer them.
    using AskPath = std::function<QString(QWidget *parent, const QString &title, const QString &filter)>;
    static void setAskPath(AskPath ask);

    static const QStringList &spanTexts(); // "1 min", "5 min", "15 min", "60 min"
    // The colour of the trend's i-th channel: sixteen told apart, as many as a model has channels
    // at most (KV5530ADAM's inputs), then again.
    static QColor seriesColour(int i);
    qint64 spanMs() const;
    // Draws the trend up to its newest value (or where it was paused).
    void refresh();
    // The cursor at a time: its line, and the time and every channel's value in cursorLabel.
    void showCursor(qint64 ms);

    QComboBox *spanBox;
    QPushButton *pauseButton, *savePngButton, *saveCsvButton, *logButton;
    QLabel *cursorLabel, *logLabel;
    QChartView *chartView;
    QTimer *refreshTimer;

    void savePng();
    void saveCsv();
    // "Log values…" asks a file and logs to it, "Stop log" (the button while logging) stops; the
    // log stops too when the window closes.
    void logValues();
    void stopLog();
    void pauseClick();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void buildChart(Conversion conversion);
    void buildSeries();
    bool eventFilter(QObject *watched, QEvent *event) override;

    const Trend *m_trend;
    WindowValues *m_values;
    QString m_caption;
    QChart *m_chart;
    QDateTimeAxis *m_time;
    QValueAxis *m_analogAxis;
    QCategoryAxis *m_digitalAxis = nullptr;
    QList<QLineSeries *> m_series; // a line per channel of the trend, in its order
    QGraphicsLineItem *m_cursor;
    bool m_paused = false;
    qint64 m_endMs = 0;      // the right edge of the view
    qint64 m_drawnMs = -1;   // the trend's newest value at the last draw
    int m_drawnSpan = -1;
};

// The points of a digital input drawn at its lane: input i of a window sits at 1.5 i, its ON
// a unit above.
constexpr double kDigitalLane = 1.5;
