#include "trafficwindow.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPainter>
#include <QScrollBar>
#include <QSaveFile>
#include <QVBoxLayout>

TrafficModel::TrafficModel(const TrafficRecorder *recorder, QObject *parent)
    : QAbstractTableModel(parent), m_recorder(recorder)
{
}

void TrafficModel::sync()
{
    const quint64 first = m_recorder->firstRow();
    const quint64 next = m_recorder->nextRow();
    if (next < m_first + quint64(m_count) || first > m_first + quint64(m_count)) {
        // Reset, or everything shown has gone: start afresh.
        beginResetModel();
        m_first = first;
        m_count = int(next - first);
        endResetModel();
        return;
    }
    if (first > m_first) {
        const int dropped = int(first - m_first);
        beginRemoveRows({}, 0, dropped - 1);
        m_first = first;
        m_count -= dropped;
        endRemoveRows();
    }
    const int added = int(next - (m_first + quint64(m_count)));
    if (added > 0) {
        beginInsertRows({}, m_count, m_count + added - 1);
        m_count += added;
        endInsertRows();
    }
}

const TrafficRow *TrafficModel::rowAt(int row) const
{
    const quint64 number = m_first + quint64(row);
    if (row < 0 || row >= m_count || number < m_recorder->firstRow() || number >= m_recorder->nextRow())
        return nullptr;
    return &m_recorder->rows()[std::size_t(number - m_recorder->firstRow())];
}

int TrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_count;
}

int TrafficModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QString TrafficModel::cellText(const TrafficRow &row, int column)
{
    switch (column) {
    case Time: return QDateTime::fromMSecsSinceEpoch(row.wallMs).toString(QStringLiteral("HH:mm:ss.zzz"));
    case SinceFirst: return QString::number(double(row.sinceFirstNs) / 1e9, 'f', 3);
    case Direction: return row.direction();
    case Bytes: return HexText(row.bytes).trimmed();
    case Length: return QString::number(row.bytes.size());
    case Verdict: return row.verdictText();
    case Response: return row.responseMs >= 0 ? QString::number(row.responseMs, 'f', 1) : QString();
    case Line: return row.tag;
    }
    return {};
}

QVariant TrafficModel::data(const QModelIndex &index, int role) const
{
    const TrafficRow *row = rowAt(index.row());
    if (!row)
        return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return cellText(*row, index.column());
    if (role == Qt::UserRole)
        return row->isError();
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const names[] = {"Time", "Since first (s)", "Dir", "Bytes", "Len", "Verdict", "Response (ms)", "Line"};
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return QString::fromLatin1(names[section]);
}

namespace {
// Cells are plain text in one line: drawn straight with the painter, without the style's item
// machinery, which costs more than the rest of a batch.
class PlainCells : public QAbstractItemDelegate
{
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const bool selected = option.state & QStyle::State_Selected;
        if (selected)
            painter->fillRect(option.rect, option.palette.highlight());
        painter->setPen(selected ? option.palette.highlightedText().color() : option.palette.text().color());
        painter->drawText(option.rect.adjusted(4, 0, -4, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                          index.data().toString());
    }
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {option.fontMetrics.horizontalAdvance(index.data().toString()) + 8, option.fontMetrics.height() + 4};
    }
};

class ErrorFilter : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;
    bool errorsOnly = false;
    void refilter() { invalidateRowsFilter(); }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &) const override
    {
        return !errorsOnly || sourceModel()->index(row, 0).data(Qt::UserRole).toBool();
    }
};
} // namespace

TrafficWindow::TrafficWindow(TrafficRecorder *recorder, const QString &caption, QWidget *parent)
    : QWidget(parent, Qt::Window), m_recorder(recorder)
{
    setObjectName(QStringLiteral("TrafficMonitor"));
    setWindowTitle(QStringLiteral("Traffic - ") + caption);
    resize(820, 480);
    m_model = new TrafficModel(recorder, this);
    auto *filter = new ErrorFilter(this);
    m_filter = filter;
    m_filter->setSourceModel(m_model);

    Table = new QTableView(this);
    Table->setObjectName(QStringLiteral("Table"));
    Table->setAccessibleName(QStringLiteral("Traffic"));
    Table->setModel(m_filter);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->verticalHeader()->setVisible(false);
    // Rows of one height, set once: a batch of new rows then costs no measuring.
    Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    Table->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    Table->horizontalHeader()->setStretchLastSection(true);
    const int widths[] = {95, 95, 40, 250, 40, 170, 100};
    for (int c = 0; c < int(std::size(widths)); ++c)
        Table->setColumnWidth(c, widths[c]);
    Table->setWordWrap(false);
    Table->setItemDelegate(new PlainCells(Table));

    Statistics = new QLabel(this);
    Statistics->setObjectName(QStringLiteral("Statistics"));
    Statistics->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A new statistics text must not lay the whole window out again.
    Statistics->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    Statistics->setFixedHeight(fontMetrics().height() + 6);
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

    connect(Pause, &QPushButton::toggled, this, [this](bool paused) {
        // Frames are still recorded and counted while paused; they appear on resume.
        Pause->setText(paused ? QStringLiteral("Resume") : QStringLiteral("Pause"));
        if (!paused)
            refresh();
    });
    connect(ErrorsOnly, &QCheckBox::toggled, this, [filter](bool on) {
        filter->errorsOnly = on;
        filter->refilter();
    });
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

    m_batch.setInterval(100);
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
    m_model->sync();
    Statistics->setText(statisticsLine(m_recorder->statistics()));
    if (atEnd)
        Table->scrollToBottom();
}

QString TrafficWindow::rowsText(bool csv, bool selectedOnly) const
{
    QStringList lines;
    const auto quote = [csv](QString cell) {
        if (!csv)
            return cell;
        return QLatin1Char('"') + cell.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    };
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
        for (int r = 0; r < m_filter->rowCount(); ++r)
            rows << r;
    }
    for (int r : std::as_const(rows)) {
        const TrafficRow *row = m_model->rowAt(m_filter->mapToSource(m_filter->index(r, 0)).row());
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
