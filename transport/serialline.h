// The one seam through which the tool touches a serial port. Windows talk to a SerialLine; the
// program plugs in the QSerialPort one, tests plug in an in-process line wired to simulated
// modules, so every exchange can be driven without hardware.
#pragma once

#include "linesettings.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class SerialLine : public QObject
{
    Q_OBJECT
public:
    enum class Fault { None, DoesNotExist, InUse, Other };

    struct Result {
        Fault fault = Fault::None;
        QString detail; // what the platform said, and how to fix it where that is known
        bool showDetail = false; // the message to the user gives the detail after its own text
        bool ok() const { return fault == Fault::None; }
    };

    using QObject::QObject;
    ~SerialLine() override = default;

    // Opens port n (COM1 is 1) and closes it again at once.
    virtual Result probe(int port) = 0;
    // Opens port n with a settings text, closing the line first if it is open. A text that
    // parseSettingsText rejects fails as Other.
    virtual Result open(int port, const QString &settings) = 0;
    // Opens a port by the name a site gives it other than COMn (that is open(n)): a device path or
    // a tcp:// target. A line that knows port numbers alone has no such port.
    virtual Result openNamed(const QString &port, const QString &settings);
    virtual void close() = 0;
    virtual bool isOpen() const = 0;
    // Writes one whole frame in one block.
    virtual void write(const QByteArray &frame) = 0;
    // The open line's native descriptor (non-blocking), for a caller that writes to and waits on
    // it itself instead of in the event loop (korvant-cli); -1 when closed or for a line without one.
    virtual int descriptor() const { return -1; }
    // Whether a reply takes its time on the line (every real line; not an in-process simulation).
    virtual bool takesLineTime() const { return true; }
    // The device that port n stands for, for a tool tip; empty when unknown.
    virtual QString deviceName(int port) const { Q_UNUSED(port); return {}; }

    // Who gets the bytes as they arrive, at least one a call: called straight from the line's
    // read, so they reach the window without a signal between. A line made of other lines hands
    // the receiver down to them.
    using Receiver = std::function<void(const QByteArray &bytes)>;
    virtual void setReceiver(Receiver receiver) { m_receiver = std::move(receiver); }

protected:
    void deliver(const QByteArray &bytes)
    {
        if (m_receiver)
            m_receiver(bytes);
    }

signals:
    // The line failed while open (adapter pulled out, device gone); the line is closed now.
    void failed(const QString &why);

private:
    Receiver m_receiver;
};

// Appends what a non-blocking descriptor holds now to bytes. Returns why the line is lost, if it
// is: a read error, or the end of a stream socket (a serial port in raw mode reads 0 bytes when
// it has none).
std::optional<QString> readWaiting(int fd, bool socket, QByteArray &bytes);

using SerialLineFactory = std::function<std::unique_ptr<SerialLine>()>;

// Every window asks for its line here; tests install a factory of their own. The program's line
// takes each port as what it stands for when it is probed or opened: a serial device, or a
// device server over TCP where sys/COMn is a file naming "tcp://HOST:PORT".
std::unique_ptr<SerialLine> makeSerialLine();
// The program's own line, whatever factory is installed (for a factory that wraps it).
std::unique_ptr<SerialLine> makeProgramLine();
void setSerialLineFactory(SerialLineFactory factory);
