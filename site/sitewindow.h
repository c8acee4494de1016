// "Site - NAME": every module of a site polled in turn over the window's one line, one request at a
// time, as the core's SitePoll says; a tile per module (sitetile.h). The line is reopened when a
// request is for another setting than the open one; a single-shot timer ends each exchange: at its
// time-out, or once a complete reply has been followed by the line's quiet (core's replyQuietUs). The tags edited on the
// tiles are saved to the site file ("Save", Ctrl+S); "Log values…" writes the values with their
// tags as CSV; the Trend (Ctrl+G) has every channel, tagged; the traffic monitor is every module
// window's (Ctrl+T). A double-click on a tile hands over to that model's own window on that
// module: the site closes its port and hides, and comes back and reopens it when that one closes.
#pragma once

#include "logfile.h"
#include "modulewindow.h"
#include "onemodule.h"
#include "sitepoll.h"
#include "windowvalues.h"

#include <QPointer>
#include <QScrollArea>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class CheckoutWindow;
class SiteTile;
class TrendWindow;

class SiteWindow : public ModuleWindow
{
    Q_OBJECT
public:
    SiteWindow(const Site &site, const QString &path, QWidget *parent = nullptr);
    ~SiteWindow() override;

    // The file dialog of "Log values…"; tests answer it.
    using AskPath = std::function<QString(QWidget *parent, const QString &title, const QString &filter)>;
    static void setAskPath(AskPath ask);

    void Command_Start_Click();
    // Writes the site with the tags as edited; false (and said) when it cannot.
    bool save();
    // "Log values…": a CSV file of every accepted value with its tags; again: the log ends.
    void logValues();
    // The hand-over to module k's own window, and the return when that window closes.
    void openModule(int module);
    void comeBack();
    // "Move to the line's setting" for module k, the poll paused while it runs.
    void moveToLine(int module);
    TrendWindow *openTrend();
    // "Checkout…": the site's checkout window, the poll started; null when the technician gave no name.
    CheckoutWindow *openCheckout();
    // An output switched (1-based) or KV1720ADAM's output set (µA), as on its tile: written before
    // the module's next read. False when the poll cannot (see SitePoll).
    bool setOutput(int module, int output, bool on);
    bool setAnalogOutput(int module, std::uint16_t microamps);

    const SitePoll &poll() const { return m_poll; }
    const Site &site() const { return m_site; }
    const QString &path() const { return m_path; }
    bool polling() const { return m_running; }
    const WindowValues &values() const { return m_values; }

    QPushButton *Command_Start = nullptr, *Command_Save = nullptr, *Command_Log = nullptr, *Command_Checkout = nullptr;
    QLabel *Label_Status = nullptr;
    QScrollArea *Scroll = nullptr;
    QVector<SiteTile *> tiles;
    QTimer *TM_Request = nullptr;

signals:
    // After each judged exchange of the poll, once the poll has taken it.
    void exchanged(const SiteRequest &request, bool accepted);

protected:
    void loadPanels() override;
    void onLineLost() override { stopPoll(); }
    void onPortClosed() override { stopPoll(); }
    void onBytes() override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildTiles();
    void wireTile(SiteTile *tile, int module);
    void addActions();
    void showCode(int code);
    bool openAt(int code);
    QString linePort() const;
    void lineAt(int code);
    void sendNext();
    void judge();
    void moveHeard();
    void took(const SiteRequest &r);
    void resumePoll(); // on an open line
    void stopPoll();

    Site m_site; // as saved: the tags as edited
    QString m_path;
    SitePoll m_poll;
    WindowValues m_values;
    std::unique_ptr<LogFile> m_log;
    QPointer<TrendWindow> m_trend;
    QPointer<CheckoutWindow> m_checkout;
    Exchange m_exchange;
    SiteRequest m_request;
    std::optional<OneModuleWrite> m_move;
    int m_moveModule = -1;
    int m_lineCode = 0;  // the setting the line is open at
    int m_shownCode = 0; // the setting the baud and parity boxes show
    int m_quietMs = 2;   // after a complete reply
    bool m_running = false;
    bool m_resume = false; // polling when the hand-over began
    qint64 m_sentNs = 0, m_lastByteNs = 0;
};

// The site in the file at path in its window, or a message box saying why not (null).
SiteWindow *createSiteWindow(const QString &path, QWidget *parent = nullptr);
