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
#include "trafficwindow.h"

#include <QPointer>
#include "widgets.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

// The serial values the whole program shares: the settings text and parity letter of the last
// Open, and of the parameter scan's last step. A parity text other than None, Odd or Even keeps
// the letter before it, so "Even" carries over to the next Open of any window.
class SerialValues
{
public:
    static SerialValues &instance();
    // The letter for a parity box text: None N, Odd O, Even E; any other text keeps the letter.
    void takeParity(const QString &parityText);
    // CommSettings from the baud, data-bit and stop-bit texts and the parity letter.
    void compose(const QString &baud, const QString &dataBits, const QString &stopBits);

    QString CommSettings;
    QString ParityLetter;
};

extern const QString kDataNormal;        // "Communication Data Normal！"
extern const QString kDataError;         // "Communication Data Error！"

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

    // Whoever shows Main when a module window closes.
    static void setShowMain(std::function<void()> showMain);
    // Where every window's frames go as well (the traffic log file), with the window's caption.
    static void setTrafficSink(std::function<void(const QString &caption, const TrafficRow &row)> sink);

    // Every frame since the window opened, and its monitor window (Ctrl+T, or "Traffic
    // monitor…" on a right-click anywhere in the window).
    TrafficRecorder &traffic() { return m_traffic; }
    TrafficWindow *openTrafficMonitor();

    bool portIsOpen() const { return Frame1->portIsOpen(); }
    int portNumber() const { return Frame1->portNumber(); }

    // Serial group handlers.
    void Combo1_Click();
    void Combo2_Click();
    void Combo3_Click();
    void Command_Port_Click();
    bool ProbePort(int n);
    void ConfigurePort(int n);

private:
    ModuleLine *m_comm; // first: the names below refer into it

public:
    SerialGroup *Frame1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5;
    ChoiceBox *Combo1, *Combo2, *Combo3, *Combo4, *Combo5;
    QPushButton *Command_Port;
    Lamp *Shape1;
    QLabel *Label13, *Label14, *Label19;
    TextBox *Text_Send, *Text_Receive, *Text_Message; // read-only, repainted once a pass
    QVector<QComboBox *> Combo_Addr; // elements the window does not use are null

    // The last request and the bytes received since, as the send and receive boxes show them.
    QString SendHex() const { return HexText(m_comm->sent()); }
    QString ReceiveHex() const { return HexText(m_comm->received()); }
    SerialLine *MSComm1;

protected:
    virtual void loadTimings() {}
    virtual void loadPanels() {}
    // The line failed while open; the port is closed already. Stop whatever polls it.
    virtual void onLineLost() {}
    // The user closed the port (Close, or a new port, baud or parity choice while open).
    virtual void onPortClosed() {}
    // Bytes arrived on the line (already kept in ReceiveHex and the traffic record).
    virtual void onBytes() {}

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
    // Shows the frame in Text_Send and writes it to the port in one write.
    void sendFrame(const QByteArray &frame);
    // The bytes received since the last request (up to the longest reply and a margin).
    const QByteArray &received() const { return m_comm->received(); }
    // The actions every window's machine shares: pause, clear, message box, send.
    void applyExchange(const CycleAction &action);
    // A judged reply: an accepted one is shown in Text_Receive, decoded, and reported normal.
    void showVerdict(const CycleAction &judged, const std::function<void()> &decode);
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
    void setClosedState();
    void place(QWidget *w, int left, int top, int width, int height);

    void closeEvent(QCloseEvent *event) override;
    void Form_QueryUnload();
    // A window that gives way to another on closing (the bus finder opening a model's window)
    // leaves set.rc and Main to that one.
    bool m_writesSetRc = true;
    bool m_showsMainOnClose = true;

private:
    void onLineFailed();
    TrafficRecorder m_traffic;
    QString m_trafficTag;
    int m_longestFrame = 8;
    bool m_tagsTraffic = false;
    QPointer<TrafficWindow> m_monitor;
};
