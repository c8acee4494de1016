// What every window that talks to modules shares: the " Communication Set" frame with its port,
// baud-rate and parity boxes, the Open/Close button and lamp, the send/receive/status boxes, the
// serial line, the last request and the bytes received since, and saving the serial choice on
// close.
#pragma once

#include "cycle.h"
#include "modbus.h"
#include "moduleline.h"
#include "serialgroup.h"
#include "serialline.h"
#include "trafficlog.h"
#include "widgets.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

// The parity letter the whole program shares (None N, Odd O, Even E): the last Open's of any
// window, or the parameter scan's last step. A parity text other than those keeps the letter
// before it, so "Even" carries over to the next Open of any window.
class ProgramParity
{
public:
    static QString letter() { return s_letter; }
    // The letter for a parity box text; any other text keeps the letter.
    static void take(const QString &parityText);
    static void set(char letter) { s_letter = QString(QLatin1Char(letter)); }

private:
    static inline QString s_letter;
};

extern const QString kDataNormal;        // "Communication Data Normal！"
extern const QString kDataError;         // "Communication Data Error！"

class ModuleWindow;

// What the program wires into a module window it opens: who shows Main when the window closes,
// where its frames go as well (the traffic log file, with the window's caption), and who opens
// its traffic monitor. A window opened without them (a test's own) does none of these.
struct WindowHooks {
    std::function<void()> showMain;
    std::function<void(const QString &caption, const TrafficRow &row)> trafficSink;
    std::function<void(ModuleWindow *window)> openMonitor;
};

class ModuleWindow : public QWidget
{
    Q_OBJECT
public:
    // name is the window's objectName, caption its title; the client size is in twips.
    ModuleWindow(const QString &name, const QString &caption, int widthTwips, int heightTwips,
                 QWidget *parent = nullptr);
    ~ModuleWindow() override;

    // The load step: icon, set.rc, the window's own settings (loadTimings), the serial boxes,
    // then the window's own set-up (loadPanels). Call once after construction.
    void Form_Load();

    void setHooks(WindowHooks hooks) { m_hooks = std::move(hooks); }
    // Whoever opens a model's window by its name (the program's window registry), for the windows
    // that hand a module over to it (the bus finder, the site).
    static void setOpenWindow(std::function<ModuleWindow *(const QString &name)> open) { s_openWindow = std::move(open); }
    const WindowHooks &hooks() const { return m_hooks; }
    // Runs work that holds the event loop a while (a monitor built) when no request waits for its
    // reply: now, or once the waiting one is judged (at the latest after kIdleWaitMs). Bytes that
    // come while the loop is held are taken late, which would change their reply's response time
    // and could let its time-out be judged first.
    static constexpr int kIdleWaitMs = 1000;
    void whenLineIdle(std::function<void()> work);

    // Every frame since the window opened; Ctrl+T, or "Traffic monitor…" on a right-click
    // anywhere in the window, asks the hook for its monitor window.
    TrafficRecorder &traffic() { return m_traffic; }
    // What the monitor is sized for: the longest frame, and whether frames carry a line tag.
    int longestFrame() const { return m_longestFrame; }
    bool tagsTraffic() const { return m_tagsTraffic; }

    bool portIsOpen() const { return Frame1->portIsOpen(); }
    int portNumber() const { return Frame1->portNumber(); }

    // Serial group handlers.
    void Command_Port_Click();
    bool ProbePort(int n);
    // Opens port n at settings ("9600,N,8,1"); on a fault says so and shows the port closed.
    bool ConfigurePort(int n, const QString &settings);
    // The settings text of the baud, data-bit and stop-bit boxes and the program's parity letter.
    QString lineSettings() const;

private:
    ModuleLine *m_comm; // the window's line: line()

public:
    SerialGroup *Frame1;
    ChoiceBox *Combo1, *Combo2, *Combo3, *Combo4, *Combo5;
    QPushButton *Command_Port;
    Lamp *Shape1;
    TextBox *Text_Send, *Text_Receive, *Text_Message; // read-only, repainted once a pass
    QVector<QComboBox *> Combo_Addr; // elements the window does not use are null

    // The bytes received since the last request, as the receive box shows them.
    QString ReceiveHex() const { return HexText(m_comm->received()); }

protected:
    virtual void loadTimings() {}
    virtual void loadPanels() {}
    // The line failed while open; the port is closed already. Stop whatever polls it.
    virtual void onLineLost() {}
    // The user closed the port (Close, or a new port, baud or parity choice while open).
    virtual void onPortClosed() {}
    // Bytes arrived on the line (already kept in ReceiveHex and the traffic record).
    virtual void onBytes() {}

    static inline std::function<ModuleWindow *(const QString &name)> s_openWindow;
    // The model's window opened (nothing without setOpenWindow, or when it does not open), its
    // boxes showing port n, the baud rate, the parity and the module's address.
    ModuleWindow *handOver(const QString &model, int n, int baud, char parity, int address);

    // The address box Combo_Addr(index), listing "1" to "254" and showing "1".
    QComboBox *makeAddressBox(int index, QWidget *parent);
    // Every panel beside the serial frame is built this way: its frame, then (for the panels
    // that talk to a module) its head: the "Moudle Address" caption, the address box
    // Combo_Addr(addressIndex) and the panel's button, the button's top edge at buttonTop.
    QGroupBox *addPanel(const QString &name, const QString &caption, int left, int top, int width, int height);
    struct PanelHead {
        QLabel *caption;
        QComboBox *addressBox;
        QPushButton *button;
    };
    PanelHead addPanelHead(QGroupBox *panel, const QString &captionName, int addressIndex, const QString &buttonName,
                           const QString &buttonCaption, int buttonTop = 840, int buttonHeight = 495);
    // Empties Text_Message, the last request and the bytes received, Text_Send and Text_Receive.
    void clearExchange();
    // The bytes received since the last request (up to the longest reply and a margin).
    const QByteArray &received() const { return m_comm->received(); }
    // The reply last judged, the line's echo set aside: what the panels decode.
    const QByteArray &reply() const { return m_reply; }
    // How long ago the last byte came: now minus this is when the reply last judged was complete.
    double msSinceLastByte() const;
    // The window's line (it alone opens and closes the port) and what it knows of its echo.
    ModuleLine *line() const { return m_comm; }
    bool echoKnown() const { return m_comm->echoKnown(); }
    const Framing &framing() const { return m_comm->framing(); }
    // Does what the window's machine says, in order: timers on and off, a cycle's caption, a
    // judged reply shown (an accepted one in Text_Receive, decoded, and reported normal; an echo
    // it showed known to the line from now on), and the exchange itself; after each action the
    // window mirrors the machine's state.
    void apply(const CycleActions &actions);
    // What apply asks of the window: the timer or button an action names, the panel's decoding of
    // an accepted reply, what it keeps of it after, and the machine's state mirrored.
    virtual WindowTimer *cycleTimer(TimerRef) const { return nullptr; }
    virtual QPushButton *cycleButton(int /*cycle*/) const { return nullptr; }
    virtual void decodeReply(const CycleAction &) {}
    virtual void keepReply(const CycleAction &) {}
    virtual void mirrorMachine() {}
    // The actions every window's machine shares: pause, clear, message box, send.
    void applyExchange(const CycleAction &action);
    // A judged reply into the traffic record, stamped now, with the echo's bytes before it; an
    // echo the judgement showed is known to the line from now on.
    void recordVerdict(const ReplyVerdict &verdict, int echoBytes = 0, bool lineEchoes = false);
    // What the line is set to, shown with the frames in the traffic monitor (the scan's steps).
    void setTrafficTag(const QString &tag) { m_trafficTag = tag; }
    // The longest reply the window accepts: the receive bound (see ModuleLine).
    void setLongestReply(int bytes) { m_comm->setLongestReply(bytes); }
    // What the traffic monitor is sized for: the longest frame the window sends or accepts, and
    // whether the window tags its frames with the line's settings (setTrafficTag).
    void describeTraffic(int longestFrame, bool tagged)
    {
        m_longestFrame = longestFrame;
        m_tagsTraffic = tagged;
    }
    void place(QWidget *w, int left, int top, int width, int height);

    // Closing saves the serial choice to set.rc and shows Main.
    void closeEvent(QCloseEvent *event) override;
    // A window that gives way to another on closing (the bus finder opening a model's window)
    // leaves set.rc and Main to that one.
    bool m_writesSetRc = true;
    bool m_showsMainOnClose = true;

private:
    void onLineFailed();
    void runIdleWork();
    TrafficRecorder m_traffic;
    qint64 m_lastByteNs = 0;
    std::vector<std::function<void()>> m_idleWork;
    QByteArray m_reply;
    QString m_trafficTag;
    int m_longestFrame = 8;
    bool m_tagsTraffic = false;
    WindowHooks m_hooks;
};
