// What every window that talks to modules shares: the " Communication Set" frame with its port,
// baud-rate and parity boxes, the Open/Close button and lamp, the send/receive/status boxes, the
// serial line, the received bytes as hex text, and saving the serial choice on close.
#pragma once

#include "serialline.h"
#include "widgets.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVector>
#include <QWidget>

#include <functional>
#include <memory>

// Program-wide: the settings text and parity letter of the last Open (and of the read scan).
extern QString CommSettings;
extern QString ParityLetter;

extern const QString kPortOpenCaption;   // "Colse Port"
extern const QString kPortClosedCaption; // "Open Port"
extern const QString kStopCaption;       // "Stop"
extern const QString kDataNormal;        // "Communication Data Normal！"
extern const QString kDataError;         // "Communication Data Error！"
extern const QString kOpenPortFirst;     // "Please open serial port！"
extern const QString kAddressNotSelected; // "Module Address Not Selected！"

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

    bool portIsOpen() const { return Command_Port->text() == kPortOpenCaption; }
    // The port box's list position + 1 when its text is exactly one of COM1 to COM9, else 0.
    int portNumber() const { return Combo1->entryIndex() + 1; }

    // Serial group handlers.
    void Combo1_Click();
    void Combo2_Click();
    void Combo3_Click();
    void Command_Port_Click();
    bool ProbePort(int n);
    void ConfigurePort(int n);
    void MSComm1_OnComm(const QByteArray &bytes);

    QGroupBox *Frame1;
    QLabel *Label1, *Label2, *Label3, *Label4, *Label5;
    ChoiceBox *Combo1, *Combo2, *Combo3, *Combo4, *Combo5;
    QPushButton *Command_Port;
    Lamp *Shape1;
    QLabel *Label13, *Label14, *Label19;
    TextBox *Text_Send, *Text_Receive, *Text_Message; // read-only, repainted once a pass
    QVector<QComboBox *> Combo_Addr; // elements the window does not use are null

    QString SendHex;
    QString ReceiveHex;

    SerialLine *MSComm1 = nullptr;

protected:
    virtual void loadTimings() {}
    virtual void loadPanels() {}
    // The line failed while open; the port is closed already. Stop whatever polls it.
    virtual void onLineLost() {}
    // The user closed the port (Close, or a new port, baud or parity choice while open).
    virtual void onPortClosed() {}

    // The address box Combo_Addr(index), listing "1" to "254" and showing "1".
    QComboBox *makeAddressBox(int index, QWidget *parent);
    // Empties Text_Message, SendHex, ReceiveHex, Text_Send and Text_Receive.
    void clearExchange();
    // Shows the frame in SendHex and Text_Send and writes it to the port in one write.
    void sendFrame(const QByteArray &frame);
    // The address in Combo_Addr(index) for a request; on an empty or bad text shows the message
    // (emptyMessage, or the range message) and gives nothing.
    std::optional<std::uint8_t> requestAddress(int index, const QString &emptyMessage);
    // Bytes beyond this many since the last request are dropped: the longest reply the window
    // accepts plus a margin, so the reply counts as too long and a flood costs nothing.
    void setLongestReply(int bytes);
    void setClosedState();
    void place(QWidget *w, int left, int top, int width, int height);

    void closeEvent(QCloseEvent *event) override;
    void Form_QueryUnload();

private:
    void onLineFailed(const QString &why);
    std::unique_ptr<SerialLine> m_line;
    qsizetype m_maxReceiveChars = 300 * 3;
};

extern const QString kAddressRangeMessage;
