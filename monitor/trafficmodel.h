// The recorder's rows of a traffic monitor as a table model.
#pragma once

#include "trafficlog.h"

#include <QAbstractTableModel>

#include <deque>

// The recorder's rows as a table, all of them or the errors only. It shows the rows as of its
// last sync(), so a view never sees them move under it between two batches.
class TrafficModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Time, SinceFirst, Direction, Bytes, Length, Verdict, Response, Line, Columns };
    // data() in this role: the recorder's number of the row (stays with the row until a reset).
    static constexpr int RowNumberRole = Qt::UserRole + 1;

    explicit TrafficModel(const TrafficRecorder *recorder, QObject *parent = nullptr);
    // Takes in what the recorder has done since the last call: rows dropped at the front, rows
    // added at the end. True when rows were only added (or nothing changed).
    bool sync();
    void setErrorsOnly(bool on);
    const TrafficRow *rowAt(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    static QString cellText(const TrafficRow &row, int column);

    // The recorder's number of a shown row (what RowNumberRole gives).
    quint64 numberAt(int row) const { return m_errorsOnly ? m_errors[std::size_t(row)] : m_first + quint64(row); }

private:
    void rebuild();

    const TrafficRecorder *m_recorder;
    bool m_errorsOnly = false;
    quint64 m_first = 0;  // all rows: recorder row number of model row 0
    int m_count = 0;      // all rows: how many
    quint64 m_synced = 0; // the recorder's rows before this one have been looked at
    std::deque<quint64> m_errors; // errors only: the recorder row numbers shown
};
