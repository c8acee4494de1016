// The traffic monitor of one module window: every frame since the window opened, with its time,
// direction, bytes, verdict and response time, in a table that a screen reader reads as one; a
// statistics line; Pause, Errors only, Reset, copy of the selected rows and Save as text or CSV.
// The view follows the recorder in batches, at most ten times a second.
#pragma once

#include "trafficlog.h"

#include <QAbstractTableModel>
#include <QLabel>
#include <QPushButton>
#include <QCheckBox>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTimer>
#include <QWidget>

// The recorder's rows as a table. It shows the rows as of its last sync(), so a view never sees
// them move under it between two batches.
class TrafficModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column { Time, SinceFirst, Direction, Bytes, Length, Verdict, Response, Line, Columns };

    explicit TrafficModel(const TrafficRecorder *recorder, QObject *parent = nullptr);
    // Takes in what the recorder has done since the last call: rows dropped at the front, rows
    // added at the end.
    void sync();
    const TrafficRow *rowAt(int row) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    static QString cellText(const TrafficRow &row, int column);

private:
    const TrafficRecorder *m_recorder;
    quint64 m_first = 0; // recorder row number of model row 0
    int m_count = 0;
};

class TrafficWindow : public QWidget
{
    Q_OBJECT
public:
    TrafficWindow(TrafficRecorder *recorder, const QString &caption, QWidget *parent = nullptr);

    // The rows shown (after the filter), as text: tab-separated, or CSV with a header row.
    QString rowsText(bool csv, bool selectedOnly) const;
    bool save(const QString &path, bool csv, QString *error) const;
    void refresh(); // one batch now

    QTableView *Table;
    QLabel *Statistics;
    QPushButton *Pause, *Reset, *Save;
    QCheckBox *ErrorsOnly;

private:
    TrafficRecorder *m_recorder;
    TrafficModel *m_model;
    QSortFilterProxyModel *m_filter;
    QTimer m_batch;
    quint64 m_shownFirst = 0, m_shownNext = 0;
};
