// The traffic monitor of one module window: every frame since the window opened, with its time,
// direction, bytes, verdict and response time, in a table that a screen reader reads as one; a
// statistics line; Pause, Errors only, Reset, copy of the selected rows and Save as text or CSV.
// The view follows the recorder in batches, about three times a second.
#pragma once

#include "statisticslabel.h"
#include "trafficmodel.h"
#include "traffictable.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

class TrafficWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kBatchMs = 300;

    // longestFrame: the most bytes a frame of the window takes (the bytes column shows that many
    // at the start); withLine: the window tags its frames with the line's settings (the Line
    // column is shown).
    TrafficWindow(TrafficRecorder *recorder, const QString &caption, int longestFrame, bool withLine,
                  QWidget *parent = nullptr);

    // The rows shown (after the filter), as text: tab-separated, or CSV with a header row.
    QString rowsText(bool csv, bool selectedOnly) const;
    bool save(const QString &path, bool csv, QString *error) const;
    void refresh(); // one batch now

    TrafficTable *Table;
    QLabel *Statistics;
    QPushButton *Pause, *Reset, *Save;
    QCheckBox *ErrorsOnly;

private:
    int buildTable(int longestFrame, bool withLine);
    void buildControls(int tableWidth);
    void connectControls();

    TrafficRecorder *m_recorder;
    TrafficModel *m_model;
    QTimer m_batch;
    quint64 m_shownFirst = 0, m_shownNext = 0;
};
