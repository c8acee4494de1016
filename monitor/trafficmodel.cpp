#include "trafficmodel.h"

TrafficModel::TrafficModel(const TrafficRecorder *recorder, QObject *parent)
    : QAbstractTableModel(parent), m_recorder(recorder)
{
}

void TrafficModel::rebuild()
{
    m_first = m_recorder->firstRow();
    m_synced = m_recorder->nextRow();
    m_count = int(m_synced - m_first);
    m_errors.clear();
    if (m_errorsOnly) {
        for (quint64 n = m_first; n < m_synced; ++n)
            if (m_recorder->rows()[std::size_t(n - m_first)].isError())
                m_errors.push_back(n);
    }
}

void TrafficModel::setErrorsOnly(bool on)
{
    if (on == m_errorsOnly)
        return;
    beginResetModel();
    m_errorsOnly = on;
    rebuild();
    endResetModel();
}

bool TrafficModel::sync()
{
    const quint64 first = m_recorder->firstRow();
    const quint64 next = m_recorder->nextRow();
    if (next < m_synced || first > m_synced) {
        // Reset, or everything shown has gone: start afresh.
        beginResetModel();
        rebuild();
        endResetModel();
        return false;
    }
    // Rows dropped at the front.
    std::size_t dropped = 0;
    if (m_errorsOnly) {
        while (dropped < m_errors.size() && m_errors[dropped] < first)
            ++dropped;
    } else {
        dropped = std::size_t(first - m_first);
    }
    if (dropped > 0)
        beginRemoveRows({}, 0, int(dropped) - 1);
    if (m_errorsOnly)
        m_errors.erase(m_errors.begin(), m_errors.begin() + std::ptrdiff_t(dropped));
    m_count -= int(first - m_first);
    m_first = first;
    if (dropped > 0)
        endRemoveRows();
    // Rows added at the end.
    std::vector<quint64> errors;
    if (m_errorsOnly) {
        for (quint64 n = m_synced; n < next; ++n)
            if (m_recorder->rows()[std::size_t(n - first)].isError())
                errors.push_back(n);
    }
    const int shown = rowCount();
    const int added = m_errorsOnly ? int(errors.size()) : int(next - m_synced);
    if (added > 0)
        beginInsertRows({}, shown, shown + added - 1);
    m_errors.insert(m_errors.end(), errors.begin(), errors.end());
    m_count = int(next - m_first);
    m_synced = next;
    if (added > 0)
        endInsertRows();
    return dropped == 0;
}

const TrafficRow *TrafficModel::rowAt(int row) const
{
    if (row < 0 || row >= rowCount())
        return nullptr;
    const quint64 number = numberAt(row);
    if (number < m_recorder->firstRow() || number >= m_recorder->nextRow())
        return nullptr;
    return &m_recorder->rows()[std::size_t(number - m_recorder->firstRow())];
}

int TrafficModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_errorsOnly ? int(m_errors.size()) : m_count;
}

int TrafficModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : Columns;
}

QString TrafficModel::cellText(const TrafficRow &row, int column)
{
    switch (column) {
    case Time: return clockText(row.wallMs);
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
    if (role == RowNumberRole)
        return numberAt(index.row());
    return {};
}

QVariant TrafficModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const char *const names[] = {"Time", "Since first (s)", "Dir", "Bytes", "Len", "Verdict", "Response (ms)", "Line"};
    if (orientation != Qt::Horizontal || (role != Qt::DisplayRole && role != Qt::AccessibleTextRole))
        return {};
    return QString::fromLatin1(names[section]);
}
