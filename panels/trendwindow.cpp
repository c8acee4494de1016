#include "trendwindow.h"

#include "prompt.h"
#include "widgets.h"
#include "windowvalues.h"

#include <QCategoryAxis>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QDateTimeAxis>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGraphicsLineItem>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineSeries>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>

static TrendWindow::AskPath g_askPath;

void TrendWindow::setAskPath(AskPath ask)
{
    g_askPath = std::move(ask);
}

static QString askPath(QWidget *parent, const QString &title, const QString &filter)
{
    return g_askPath ? g_askPath(parent, title, filter) : QFileDialog::getSaveFileName(parent, title, QString(), filter);
}

// The path with the suffix added when the name typed has none ("trend" -> "trend.csv").
static QString withSuffix(const QString &path, const QString &suffix)
{
    return QFileInfo(path).suffix().isEmpty() ? path + QLatin1Char('.') + suffix : path;
}

QColor TrendWindow::seriesColour(int i)
{
    static const QRgb colours[] = {0x1f77b4, 0xff7f0e, 0x2ca02c, 0xd62728, 0x9467bd, 0x8c564b, 0xe377c2, 0x7f7f7f,
                                   0xbcbd22, 0x17becf, 0x393b79, 0xe6ab02, 0x000000, 0xa6cee3, 0xfb9a99, 0x66a61e};
    return QColor(colours[i % 16]);
}

const QStringList &TrendWindow::spanTexts()
{
    static const QStringList texts{QStringLiteral("1 min"), QStringLiteral("5 min"), QStringLiteral("15 min"),
                                   QStringLiteral("60 min")};
    return texts;
}

qint64 TrendWindow::spanMs() const
{
    static const int minutes[] = {1, 5, 15, 60};
    return minutes[qBound(0, spanBox->currentIndex(), 3)] * 60000LL;
}

TrendWindow::TrendWindow(const Trend *trend, WindowValues *values, const QString &caption, Conversion conversion,
                         QWidget *parent)
    : QWidget(parent, Qt::Window), m_trend(trend), m_values(values), m_caption(caption)
{
    setObjectName(QStringLiteral("Trend"));
    setWindowTitle(QStringLiteral("Trend - %1").arg(caption));
    resize(900, 520);

    spanBox = named(new QComboBox(this), QStringLiteral("spanBox"));
    spanBox->addItems(spanTexts());
    pauseButton = named(new QPushButton(QStringLiteral("Pause"), this), QStringLiteral("pauseButton"));
    savePngButton = named(new QPushButton(QStringLiteral("Save PNG…"), this), QStringLiteral("savePngButton"));
    saveCsvButton = named(new QPushButton(QStringLiteral("Save CSV…"), this), QStringLiteral("saveCsvButton"));
    logButton = named(new QPushButton(QStringLiteral("Log values…"), this), QStringLiteral("logButton"));
    cursorLabel = named(new QLabel(this), QStringLiteral("cursorLabel"));
    cursorLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    logLabel = named(new QLabel(this), QStringLiteral("logLabel"));

    buildChart(conversion);

    auto *bar = new QHBoxLayout;
    bar->addWidget(spanBox);
    bar->addWidget(pauseButton);
    bar->addStretch();
    bar->addWidget(logLabel);
    bar->addWidget(savePngButton);
    bar->addWidget(saveCsvButton);
    bar->addWidget(logButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(chartView, 1);
    layout->addWidget(cursorLabel);

    connect(spanBox, &QComboBox::activated, this, [this] { refresh(); });
    connect(pauseButton, &QPushButton::clicked, this, &TrendWindow::pauseClick);
    connect(savePngButton, &QPushButton::clicked, this, &TrendWindow::savePng);
    connect(saveCsvButton, &QPushButton::clicked, this, &TrendWindow::saveCsv);
    connect(logButton, &QPushButton::clicked, this, &TrendWindow::logValues);

    // One draw a second whatever the poll rate: a draw of the chart costs about as much as two
    // exchanges of the window, so drawing more often would cost the window more than its poll.
    refreshTimer = named(new QTimer(this), QStringLiteral("refreshTimer"));
    refreshTimer->setInterval(1000);
    connect(refreshTimer, &QTimer::timeout, this, &TrendWindow::refresh);
    refreshTimer->start();
    refresh();
}

// The chart: a time axis, the analog axis in the window's unit, and the cursor's dashed line.
void TrendWindow::buildChart(Conversion conversion)
{
    m_chart = new QChart;
    m_chart->legend()->setAlignment(Qt::AlignBottom);
    m_time = new QDateTimeAxis;
    m_time->setFormat(QStringLiteral("HH:mm:ss"));
    m_chart->addAxis(m_time, Qt::AlignBottom);
    m_analogAxis = new QValueAxis;
    m_analogAxis->setTitleText(conversionUnit(conversion));
    m_chart->addAxis(m_analogAxis, Qt::AlignLeft);
    chartView = named(new QChartView(m_chart, this), QStringLiteral("chartView"));
    chartView->setRenderHint(QPainter::Antialiasing, false);
    chartView->viewport()->setMouseTracking(true);
    chartView->viewport()->installEventFilter(this);
    m_cursor = new QGraphicsLineItem;
    m_cursor->setPen(QPen(Qt::gray, 1, Qt::DashLine));
    m_cursor->setZValue(10);
    m_cursor->hide();
    m_chart->scene()->addItem(m_cursor);
}

void TrendWindow::buildSeries()
{
    int lanes = 0;
    for (std::size_t i = 0; i < m_trend->channels().size(); ++i) {
        const Trend::Channel &c = m_trend->channels()[i];
        if (i < size_t(m_series.size())) {
            lanes += c.digital;
            continue;
        }
        auto *series = new QLineSeries;
        series->setName(c.digital ? c.caption : QStringLiteral("%1 (%2)").arg(c.caption, c.unit));
        m_chart->addSeries(series);
        series->setColor(seriesColour(int(i)));
        series->attachAxis(m_time);
        if (c.digital) {
            if (!m_digitalAxis) {
                m_digitalAxis = new QCategoryAxis;
                m_digitalAxis->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
                m_digitalAxis->setGridLineVisible(false);
                m_digitalAxis->setTitleText(QStringLiteral("ON / OFF"));
                m_chart->addAxis(m_digitalAxis, Qt::AlignRight);
            }
            // The lane's label halfway between its OFF and its ON.
            m_digitalAxis->append(c.caption, kDigitalLane * lanes + 0.5);
            series->attachAxis(m_digitalAxis);
            ++lanes;
        } else {
            series->attachAxis(m_analogAxis);
        }
        m_series.append(series);
    }
    if (m_digitalAxis)
        m_digitalAxis->setRange(-0.25, kDigitalLane * lanes - 0.25);
}

void TrendWindow::refresh()
{
    const qint64 newest = m_trend->lastMs();
    if (!m_paused)
        m_endMs = newest > 0 ? newest : WindowValues::now();
    const int span = spanBox->currentIndex();
    if ((m_paused || newest == m_drawnMs) && span == m_drawnSpan)
        return;
    m_drawnMs = newest;
    m_drawnSpan = span;
    if (size_t(m_series.size()) < m_trend->channels().size())
        buildSeries();
    const qint64 from = m_endMs - spanMs();
    // Two points a column at most: what the plot's width can show.
    const int columns = qMax(50, int(m_chart->plotArea().width()));
    double lo = INFINITY, hi = -INFINITY;
    int lane = 0;
    for (int i = 0; i < m_series.size(); ++i) {
        const Trend::Channel &c = m_trend->channels()[size_t(i)];
        QList<QPointF> points = c.series.view(from, m_endMs, columns, c.digital);
        if (c.digital) {
            for (QPointF &p : points)
                p.setY(p.y() + kDigitalLane * lane);
            ++lane;
        } else {
            for (const QPointF &p : points) {
                lo = std::min(lo, p.y());
                hi = std::max(hi, p.y());
            }
        }
        m_series[i]->replace(points);
    }
    m_time->setRange(QDateTime::fromMSecsSinceEpoch(from), QDateTime::fromMSecsSinceEpoch(m_endMs));
    if (lo <= hi) {
        // Widened in steps of a tenth of the span, so a wandering value seldom moves the axis
        // (a new range lays the whole chart out again).
        const double step = hi > lo ? (hi - lo) / 10 : std::max(1.0, std::abs(hi) * 0.05);
        const double low = std::floor(lo / step) * step - step, high = std::ceil(hi / step) * step + step;
        if (low < m_analogAxis->min() || high > m_analogAxis->max() || high - low < (m_analogAxis->max() - m_analogAxis->min()) / 2)
            m_analogAxis->setRange(low, high);
    }
}

void TrendWindow::pauseClick()
{
    m_paused = !m_paused;
    pauseButton->setText(m_paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_drawnMs = -1;
    refresh();
}

void TrendWindow::showCursor(qint64 ms)
{
    QStringList parts{QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("HH:mm:ss.zzz"))};
    for (const Trend::Channel &c : m_trend->channels()) {
        const std::optional<double> v = c.series.valueAt(ms);
        parts << QStringLiteral("%1 %2").arg(c.caption, v ? c.text(*v) : QStringLiteral("-"));
    }
    cursorLabel->setText(parts.join(QStringLiteral("  ")));
    const QRectF area = m_chart->plotArea();
    const QPointF at = m_chart->mapToPosition(QPointF(double(ms), 0), m_series.isEmpty() ? nullptr : m_series.first());
    if (!m_series.isEmpty() && at.x() >= area.left() && at.x() <= area.right()) {
        m_cursor->setLine(at.x(), area.top(), at.x(), area.bottom());
        m_cursor->show();
    } else {
        m_cursor->hide();
    }
}

bool TrendWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == chartView->viewport() && event->type() == QEvent::MouseMove && !m_series.isEmpty()) {
        const QPointF scene = chartView->mapToScene(static_cast<QMouseEvent *>(event)->position().toPoint());
        const QPointF value = m_chart->mapToValue(m_chart->mapFromScene(scene), m_series.first());
        showCursor(qint64(std::llround(value.x())));
    }
    return QWidget::eventFilter(watched, event);
}

void TrendWindow::savePng()
{
    const QString asked = askPath(this, QStringLiteral("Save PNG"), QStringLiteral("PNG images (*.png)"));
    if (asked.isEmpty())
        return;
    const QString path = withSuffix(asked, QStringLiteral("png"));
    if (!chartView->grab().save(path, "PNG"))
        Prompt(this, QStringLiteral("Cannot write %1").arg(path));
}

void TrendWindow::saveCsv()
{
    const QString path = askPath(this, QStringLiteral("Save CSV"), QStringLiteral("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QFile file(withSuffix(path, QStringLiteral("csv")));
    const QByteArray text = trendCsv(*m_trend, m_caption, m_endMs - spanMs(), m_endMs).toUtf8();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size() || !file.flush())
        Prompt(this, QStringLiteral("Cannot write %1: %2").arg(file.fileName(), file.errorString()));
}

void TrendWindow::logValues()
{
    if (m_values->log())
        return stopLog();
    const QString asked = askPath(this, QStringLiteral("Log values"), QStringLiteral("CSV files (*.csv)"));
    if (asked.isEmpty())
        return;
    const QString path = withSuffix(asked, QStringLiteral("csv"));
    m_values->setLog(std::make_unique<ValueLog>(path, [this](const QString &message) {
        Prompt(this, message.first(1).toUpper() + message.sliced(1));
    }));
    logButton->setText(QStringLiteral("Stop log"));
    logLabel->setText(QStringLiteral("Logging to %1").arg(QFileInfo(path).fileName()));
    logLabel->setToolTip(path);
}

void TrendWindow::stopLog()
{
    m_values->setLog(nullptr);
    logButton->setText(QStringLiteral("Log values…"));
    logLabel->clear();
    logLabel->setToolTip(QString());
}

void TrendWindow::closeEvent(QCloseEvent *event)
{
    stopLog();
    QWidget::closeEvent(event);
}
