// The " Communication Set" frame every module window carries: port, baud-rate, parity, data-bit
// and stop-bit boxes, the Open/Close button and its lamp, and the send, receive and status boxes.
// It shows a serial choice and gives back the one on screen; what the controls do is the window's.
#pragma once

#include "settingsfiles.h"
#include "prompt.h"
#include "widgets.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

extern const QString kPortOpenCaption;   // "Colse Port"
extern const QString kPortClosedCaption; // "Open Port"

class SerialGroup : public QGroupBox
{
    Q_OBJECT
public:
    explicit SerialGroup(QWidget *window);

    // Fills the lists and shows a choice read from set.rc: the port box selects the entry that
    // line 1 names (or shows "COM" and the line), the baud and parity boxes show their lines.
    void show(const SerialChoice &choice);
    // What set.rc keeps of the boxes: the port number (0 for a text that is no entry) and the
    // baud and parity texts as they stand.
    SerialChoice choice() const;
    // The port box's list position + 1 when its text is exactly one of COM1 to COM9, else 0.
    int portNumber() const { return Combo1->entryIndex() + 1; }
    bool portIsOpen() const { return m_open; }
    // Whether the port is open, kept here alone; the button's caption and the lamp follow it:
    // green and "Colse Port" while open.
    void showOpen(bool open);

    QLabel *Label1, *Label2, *Label3, *Label4, *Label5;
    ChoiceBox *Combo1, *Combo2, *Combo3, *Combo4, *Combo5;
    QPushButton *Command_Port;
    Lamp *Shape1;
    QLabel *Label13, *Label14, *Label19;
    TextBox *Text_Send, *Text_Receive, *Text_Message; // read-only, repainted once a pass

private:
    bool m_open = false;
};

// Sets a widget's object name and its geometry in twips.
template <typename T>
T *placed(T *w, const QString &name, int left, int top, int width, int height)
{
    w->setObjectName(name);
    w->setGeometry(twips(left), twips(top), twips(width), twips(height));
    return w;
}
