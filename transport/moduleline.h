// The line of one module window and what went over it: the serial line (the child "MSComm1"),
// which only this class opens and closes, the last request, and the bytes received since with a
// bound, so a flood costs nothing and a reply too long stays recognisable as too long. The line
// hands its bytes straight to this class; hex text is made only where a window shows them. It also
// keeps whether the open line echoes every request: the one place a window asks, set on opening
// from the user's choice for the port number (the file sys/COMn.echo), learned from a reply that
// shows it, and forgotten when the port closes or the line fails.
#pragma once

#include "framing.h"
#include "serialline.h"

#include <QByteArray>
#include <QObject>

#include <functional>
#include <memory>

class ModuleLine : public QObject
{
    Q_OBJECT
public:
    explicit ModuleLine(QObject *parent = nullptr);
    ~ModuleLine() override;

    // Opens port n (COM1 is 1) and closes it again at once; the device n stands for (a tool tip).
    SerialLine::Result probe(int port) { return m_line->probe(port); }
    QString deviceName(int port) const { return m_line->deviceName(port); }
    bool takesLineTime() const { return m_line->takesLineTime(); }
    // Opens port n at settings ("9600,N,8,1"), the line closed first if open. The echo is known where the
    // user said so for n, or where the line learned it on n before this reopening at other
    // settings (the parameter scan, the finder); a failed open forgets it.
    SerialLine::Result open(int port, const QString &settings);
    // The same on a port by its name: COMn as above, or a device path or tcp:// target (a site's
    // port), whose echo is what the line learned on it.
    SerialLine::Result open(const QString &port, const QString &settings);
    // Closes the line: what was learned of it goes.
    void close();
    // Forgets the request and the bytes: a new exchange starts.
    void clear();
    // Writes the frame (an RTU frame) in one write, in the line's framing, and keeps what went.
    void send(const QByteArray &frame);
    // The last request as it went over the wire.
    const QByteArray &sent() const { return m_sent; }
    // How the open line frames its exchanges: MBAP where COMn names an mbap:// target, with the
    // last request's transaction id; else RTU.
    const Framing &framing() const { return m_framing; }
    // The bytes received since the last request, up to the bound.
    const QByteArray &received() const { return m_received; }
    // Bytes beyond this many since the last request are dropped: the longest reply plus a margin.
    void setLongestReply(int bytes);
    bool echoKnown() const { return m_echoKnown; }
    // A reply showed the line echoes: known from now on, and noted for the ports dialog.
    void learnEcho();
    // The devices (or device servers) on which a line learned its echo since the program started.
    static QStringList echoSeen();
    // The file that says port n echoes, by its presence: sys/COMn.echo.
    static QString echoFile(int port);

    // Sees every byte as it came, before the bound (the traffic record).
    void setWatcher(std::function<void(const QByteArray &bytes)> watcher) { m_watcher = std::move(watcher); }

signals:
    // The line failed while open (adapter pulled out); it is closed now, its echo forgotten.
    void failed();

private:
    void take(const QByteArray &bytes);
    std::unique_ptr<SerialLine> m_line;
    std::function<void(const QByteArray &)> m_watcher;
    qsizetype m_maxReceived = 300;
    QByteArray m_sent;
    QByteArray m_received;
    QString m_port; // as resolvePort names it
    bool m_echoKnown = false;
    Framing m_framing;
};
