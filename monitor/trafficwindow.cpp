#include "trafficwindow.h"

#include "csv.h"
#include "linesettings.h"
#include "trafficcells.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QSaveFile>
#include <QScrollBar>
#include <QVBoxLayout>

// Every verdict text a row can show.
static QStringList verdictTexts()
{
    QStringList verdicts;
    TrafficRow reply;
    reply.kind = TrafficRow::Reply;
    for (Refusal r : {Refusal::None, Refusal::NoReply, Refusal::Short, Refusal::Long, Refusal::OtherAddress,
                      Refusal::OtherFunction, Refusal::BadCrc, Refusal::Exception}) {
        reply.verdict.refusal = r;
        for (int code = 1; code <= (r == Refusal::Exception ? 6 : 1); ++code) {
            reply.verdict.exceptionCode = std::uint8_t(code);
            verdicts << reply.verdictText();
        }
    }
    reply.verdict.gateway = true; // over MBAP: the gateway's two, and the header's verdicts
    for (int code : {10, 11}) {
        reply.verdict.exceptionCode = std::uint8_t(code);
        verdicts << reply.verdictText();
    }
    for (Refusal r : {Refusal::OtherTransaction, Refusal::BadHeader})
        verdicts << ReplyVerdict{r}.reason();
    reply.verdict = ReplyVerdict{Refusal::NoReply};
    reply.verdict.echoOnly = true;
    verdicts << reply.verdictText() << QStringLiteral("unsolicited") << QStringLiteral("echo");
    return verdicts;
}

// The table, its columns each as wide as its heading and the widest text it can hold; the bytes
// column takes what the window gives beyond them, and shows the window's longest frame at the
// start. Gives the width of the columns shown.
int TrafficWindow::buildTable(int longestFrame, bool withLine)
{
    Table = new TrafficTable(this);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setAccessibleName(QStringLiteral("Traffic"));
    Table->setModel(m_model);
    QHeaderView *header = Table->horizontalHeader();
    const QFontMetrics texts = Table->fontMetrics();
    QStringList lines; // the scan's steps: baud rate and parity of each code
    for (const QString &parameters : communicationParameterTexts())
        lines << parameters.section(QLatin1Char(','), 0, 1);
    const QStringList held[] = {{QStringLiteral("00:00:00.000")}, {QStringLiteral("00000.000")},
                                {QStringLiteral("TX"), QStringLiteral("RX")},
                                {HexText(QByteArray(qMax(1, longestFrame), '\0')).trimmed()}, {QStringLiteral("00000")},
                                verdictTexts(), {QStringLiteral("00000.0")}, lines};
    int total = 0;
    for (int c = 0; c < TrafficModel::Columns; ++c) {
        int width = header->fontMetrics().horizontalAdvance(m_model->headerData(c, Qt::Horizontal).toString()) + 16;
        for (const QString &text : held[c])
            width = qMax(width, texts.horizontalAdvance(text) + 2 * TrafficCells::kPadding);
        Table->setColumnWidth(c, width);
        header->setSectionResizeMode(c, c == TrafficModel::Bytes ? QHeaderView::Stretch : QHeaderView::Interactive);
        if (c != TrafficModel::Line || withLine)
            total += width;
    }
    Table->setColumnHidden(TrafficModel::Line, !withLine);
    return total;
}

// The statistics line above the table and the buttons below it; the window as wide as the table.
void TrafficWindow::buildControls(int tableWidth)
{
    Statistics = new StatisticsLabel(this);
    Statistics->setObjectName(QStringLiteral("Statistics"));
    Statistics->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    Pause = new QPushButton(QStringLiteral("Pause"), this);
    Pause->setObjectName(QStringLiteral("Pause"));
    Pause->setCheckable(true);
    ErrorsOnly = new QCheckBox(QStringLiteral("Errors only"), this);
    ErrorsOnly->setObjectName(QStringLiteral("ErrorsOnly"));
    Reset = new QPushButton(QStringLiteral("Reset"), this);
    Reset->setObjectName(QStringLiteral("Reset"));
    Save = new QPushButton(QStringLiteral("Save…"), this);
    Save->setObjectName(QStringLiteral("Save"));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(Pause);
    buttons->addWidget(ErrorsOnly);
    buttons->addStretch();
    buttons->addWidget(Reset);
    buttons->addWidget(Save);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(Statistics);
    layout->addWidget(Table, 1);
    layout->addLayout(buttons);
    resize(tableWidth + 2 * Table->frameWidth() + style()->pixelMetric(QStyle::PM_ScrollBarExtent)
               + layout->contentsMargins().left() + layout->contentsMargins().right(),
           height());
}

void TrafficWindow::connectControls()
{
    connect(Pause, &QPushButton::toggled, this, [this](bool paused) {
        // Frames are still recorded and counted while paused; they appear on resume.
        Pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        if (!paused)
            refresh();
    });
    connect(ErrorsOnly, &QCheckBox::toggled, m_model, &TrafficModel::setErrorsOnly);
    connect(Reset, &QPushButton::clicked, this, [this] {
        m_recorder->reset();
        refresh();
    });
    connect(Save, &QPushButton::clicked, this, [this] {
        QString selected;
        const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save traffic"), QStringLiteral("traffic.csv"),
                                                          QStringLiteral("CSV (*.csv);;Text log (*.txt)"), &selected);
        if (path.isEmpty())
            return;
        QString error;
        if (!save(path, !selected.startsWith(QLatin1String("Text")), &error))
            Statistics->setText(QStringLiteral("Cannot save %1: %2").arg(path, error));
    });
    // Copy puts the selected rows on the clipboard, one a line, cells tab-separated.
    auto *copy = new QAction(QStringLiteral("Copy"), this);
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, [this] { QApplication::clipboard()->setText(rowsText(false, true)); });
    addAction(copy);
    Table->addAction(copy);
    Table->setContextMenuPolicy(Qt::ActionsContextMenu);
}

TrafficWindow::TrafficWindow(TrafficRecorder *recorder, const QString &caption, int longestFrame, bool withLine,
                             QWidget *parent)
    : QWidget(parent, Qt::Window), m_recorder(recorder)
{
    setObjectName(QStringLiteral("TrafficMonitor"));
    setWindowTitle(QStringLiteral("Traffic - ") + caption);
    resize(860, 480);
    m_model = new TrafficModel(recorder, this);

    buildControls(buildTable(longestFrame, withLine));
    connectControls();

    m_batch.setInterval(kBatchMs);
    connect(&m_batch, &QTimer::timeout, this, [this] {
        if (!Pause->isChecked())
            refresh();
    });
    m_batch.start();
    refresh();
}

void TrafficWindow::refresh()
{
    if (m_model->rowCount() > 0 && m_recorder->nextRow() == m_shownNext && m_recorder->firstRow() == m_shownFirst)
        return; // nothing new since the last batch
    m_shownNext = m_recorder->nextRow();
    m_shownFirst = m_recorder->firstRow();
    const bool atEnd = Table->verticalScrollBar()->value() == Table->verticalScrollBar()->maximum();
    const int shown = m_model->rowCount();
    if (m_model->sync() && m_model->rowCount() > shown)
        Table->expectRowsFrom(shown);
    Statistics->setText(statisticsLine(m_recorder->statistics()));
    if (atEnd)
        Table->followEnd();
}

QString TrafficWindow::rowsText(bool csv, bool selectedOnly) const
{
    QStringList lines;
    const auto quote = [csv](const QString &cell) { return csv ? csvQuoted(cell) : cell; };
    const QLatin1Char separator(csv ? ',' : '\t');
    if (csv) {
        QStringList header;
        for (int c = 0; c < TrafficModel::Columns; ++c)
            header << quote(m_model->headerData(c, Qt::Horizontal).toString());
        lines << header.join(separator);
    }
    QList<int> rows;
    if (selectedOnly) {
        for (const QModelIndex &index : Table->selectionModel()->selectedRows())
            rows << index.row();
        std::sort(rows.begin(), rows.end());
    } else {
        for (int r = 0; r < m_model->rowCount(); ++r)
            rows << r;
    }
    for (int r : std::as_const(rows)) {
        const TrafficRow *row = m_model->rowAt(r);
        if (!row)
            continue;
        QStringList cells;
        for (int c = 0; c < TrafficModel::Columns; ++c) {
            QString text = TrafficModel::cellText(*row, c);
            if (c == TrafficModel::Time)
                text = QDateTime::fromMSecsSinceEpoch(row->wallMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
            cells << quote(text);
        }
        lines << cells.join(separator);
    }
    return lines.join(QLatin1Char('\n')) + (lines.isEmpty() ? QString() : QStringLiteral("\n"));
}

bool TrafficWindow::save(const QString &path, bool csv, QString *error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(rowsText(csv, false).toUtf8()) < 0 || !file.commit()) {
        *error = file.errorString();
        return false;
    }
    return true;
}
