// The ports dialog, from every module window's right-click menu and the port box's text menu:
// every serial device the system lists, with its stable by-id name, description, maker, serial
// number, whether this user may open it and its adapter's latency timer, and what to do about a
// missing right or a slow timer; "Use as COMn" makes sys/COMn a link to the device's by-id name,
// so a COM number stays with its adapter across reboots and replugging; "Use target as COMn" makes
// sys/COMn a file naming the tcp:// or mbap:// target typed beside it; and the "echo" check
// tells the windows that the line of COMn echoes every request (the file sys/COMn.echo).
#pragma once

#include "serialports.h"

#include <QDialog>

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class ChoiceBox;

class PortsDialog : public QDialog
{
    Q_OBJECT
public:
    // comNumber: the COM number picked at first (the window's port, 1..9; another number picks COM1).
    explicit PortsDialog(int comNumber, QWidget *parent = nullptr);

    // The folder that holds dev/ and sys/: "/" for the system's own; tests lay out one of their own.
    static void setSystemRoot(const QString &root);

    // Reads the devices and the COM number's files again.
    void refresh();
    const QList<SerialPortEntry> &ports() const { return m_ports; }

    enum Column { Device, ById, Description, Manufacturer, SerialNumber, Access, LatencyTimer, Echo, Columns };
    QTableWidget *Table_Ports;
    QPlainTextEdit *Text_Advice; // what to do about missing rights and slow adapters; echo seen
    QComboBox *Combo_Com;        // COM1 .. COM9
    QLabel *Label_Com;           // what the COM number stands for now
    QPushButton *Command_UseAs;  // "Use as COMn": the selected device
    QCheckBox *Check_Echo;       // "echo": the line of the COM number echoes every request
    QLineEdit *Text_Target;      // tcp://HOST:PORT or mbap://HOST[:PORT]
    QPushButton *Command_UseTarget; // "Use target as COMn"
    QPushButton *Command_Refresh, *Command_Close;

private:
    void layOut();
    int comNumber() const;
    void showCom();
    void useAsCom();
    void useTargetAsCom();
    // Whether sys/COMn may now be made to stand for what: nothing there, or the user said yes and
    // it is removed.
    bool mayReplace(int n, const QString &what);
    void setEcho(bool on);

    QList<SerialPortEntry> m_ports;
};

// Adds "Ports…" to the window's right-click menu and to the text menu of its port box; the
// action, for other menus to offer too.
QAction *addPortsEntry(QWidget *window, ChoiceBox *portBox);
// The window's ports dialog, opened (one per window).
PortsDialog *openPortsDialog(QWidget *window, int comNumber);
