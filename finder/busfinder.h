// The "Bus Finder" window: the core's bus finder over the window's line, with the settings to
// sweep, the address range, a progress bar with the time left and the modules found in a table
// (sorted by address, sortable, Ctrl+C copies, "Export CSV…"). A double-click on a module, or "Test"
// on a row's right-click, hands over to that model's window, with the port, baud rate, parity and
// address chosen; "Set address…" gives the module of a row a new address (core/onemodule.h); "Open
// as site…" writes a site of the modules found and opens it in the site window. The rows, the
// ticked settings and the range stay while the program runs (not on disk).
#pragma once

#include "finder.h"
#include "onemodule.h"
#include "modulewindow.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTableWidget>
#include <QTimer>

#include <optional>

class BusFinderWindow : public ModuleWindow
{
    Q_OBJECT
public:
    explicit BusFinderWindow(QWidget *parent = nullptr);
    ~BusFinderWindow() override;

    // Whoever opens a site file in the site window (Main's way: Main shown again if it cannot).
    static void setOpenSite(std::function<void(const QString &path)> open);

    void Command_Start_Click();
    void TM_Probe_Timer();
    void Table_Results_DoubleClick(int row);
    // "Set address…" on a table row: asks the new address, then writes it to that module alone.
    void setAddressOfRow(int row);
    // "Open as site…": asks a file name, writes a site of the modules found there (each at the code
    // it was found at, no tags) and hands over to the site window.
    void openAsSite();
    // The rows found, as data, in address order (what the table shows, with the addresses set
    // since): what a site of the modules found is made from.
    const QVector<FinderRow> &foundRows() const { return m_rows; }
    // The rows as CSV, a header first; what "Export CSV…" writes.
    QString csvText() const;
    // The selected rows as tab-separated lines (Ctrl+C).
    QString selectedText() const;

    QGroupBox *Frame_Codes = nullptr, *Frame_Range = nullptr;
    QVector<QCheckBox *> Check_Code; // codes 1..8 at 0..7
    ChoiceBox *Combo_From = nullptr, *Combo_To = nullptr, *Combo_Turnaround = nullptr;
    QPushButton *Command_Start = nullptr, *Command_Export = nullptr, *Command_OpenSite = nullptr;
    QProgressBar *Progress = nullptr;
    QLabel *Label_TimeLeft = nullptr;
    QTableWidget *Table_Results = nullptr;
    QTimer *TM_Probe = nullptr;

    const BusFinder &finder() const { return m_finder; }

protected:
    void loadPanels() override;
    void onLineLost() override;
    // Another port picked while sweeping: the sweep ends rather than go on at a port not chosen.
    void onPortClosed() override { onLineLost(); }
    void onBytes() override { m_lastByteUs = nowUs(); }

private:
    void buildResultsTable();
    void showMenu(const QPoint &at);
    // The settings' boxes and the range's labels as wide as their texts ask in the window's font;
    // the window grows by what they lack.
    void fitFrames();
    void fitColumns();
    void keepState() const;
    void restoreState();
    // Set address…: the step's request sent, and its reply judged when its wait is over.
    void sendWriteStep();
    void judgeWriteStep();
    void writeDone(const Exchange &last);
    // Does what the finder asks next (not ModuleWindow::apply: the finder is no cycle machine).
    void follow(BusFinder::Next next);
    void finished();
    void showProgress();
    // The finder's rows taken, and sorted by address (the settings' notes last).
    void takeRows();
    void sortRows();
    void showRows();
    qint64 nowUs() const { return m_clock.nsecsElapsed() / 1000; }

    BusFinder m_finder{FinderOptions{}};
    QElapsedTimer m_clock;
    QByteArray m_request;
    qint64 m_lastByteUs = -1;
    bool m_listening = false;    // the finder listens: nothing was sent
    QByteArray m_heardBefore;    // the bytes received before the listening began
    int m_shownRows = -1;
    bool m_sweeping = false;
    QVector<FinderRow> m_rows;             // shown in the table
    std::optional<OneModuleWrite> m_write; // Set address… under way
    int m_writeRow = -1;                   // into m_rows
    int m_writeTo = 0;                     // the new address
    qint64 m_writeWaitUs = 0;              // each step's wait
};

ModuleWindow *createBusFinder(QWidget *parent = nullptr);
