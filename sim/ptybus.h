// The line front end of korvant-sim: a SimBus behind the master side of a pty whose slave is
// linked as DIR/sys/COMn, with Modbus RTU line timing; or behind a TCP port, as a serial device
// server in TCP server mode (RTU frames unchanged, one client at a time, no line timing), or as a
// Modbus TCP gateway (MBAP).
#pragma once

#include "simmodule.h"

#include <QByteArray>
#include <QString>

#include <csignal>
#include <cstdint>

class PtyBus
{
public:
    explicit PtyBus(SimBus *bus);
    ~PtyBus();
    PtyBus(const PtyBus &) = delete;
    PtyBus &operator=(const PtyBus &) = delete;

    // Creates the pty (raw, 9600 baud to start with) and keeps a slave descriptor of its own, so
    // the master side survives the tool closing and reopening the port.
    bool open(QString *error);
    QString slaveName() const { return m_slaveName; }
    // Serves on host:port instead of a pty (port 0: a free one). A new client replaces the one
    // before, as single-client device servers do.
    bool listen(const QString &host, quint16 port, QString *error);
    quint16 tcpPort() const { return m_tcpPort; }
    // Links the slave as linkPath and holds a lock on linkPath.lock for as long as this bus lives.
    // A link whose lock no live simulator holds is stale and replaced; a held one, or any other
    // file at linkPath, is refused.
    bool link(const QString &linkPath, QString *error);
    // Removes the link if it still points at this pty.
    void unlink();

    void setLogging(bool on) { m_log = on; }
    // An adapter that hands every request back as it goes out (two-wire RS-485 without echo
    // suppression).
    void setEcho(bool on) { m_echo = on; }
    // An adapter that holds received bytes and hands them over every latencyMs (a USB-serial
    // adapter's latency timer); 0 hands each over when due.
    void setLatencyMs(int latencyMs) { m_latencyMs = latencyMs; }
    // A real line's time: a reply comes after the request's bytes, the silence that ends the
    // request and the reply's bytes; without it, after the two frames' bytes alone.
    void setRealTime(bool on) { m_realTime = on; }
    // On a TCP port: a Modbus TCP gateway in front of the modules (each MBAP request passed on as
    // RTU, the reply given back under its header); silent: a unit that does not answer gets
    // nothing rather than exception 0x0B.
    void setGateway(bool on, bool silent)
    {
        m_gateway = on;
        m_gatewaySilent = silent;
    }
    // Serves requests until *stop becomes non-zero (set from a signal handler). waitMask is the
    // signal mask while waiting: the stop signals are blocked everywhere else, so none is lost.
    // Returns 0, or 1 on a fatal error.
    int run(volatile std::sig_atomic_t *stop, const sigset_t *waitMask);

    // The line speed the slave side is set to, 0 when it is not one of the usual rates.
    qint32 currentBaud() const;

private:
    void onFrameEnd();
    // The gateway's side: serves each whole MBAP request in m_rx.
    void serveMbap();
    void log(const QString &text) const;
    int bitsPerChar() const;
    // When a reply of replyBytes to a request of requestBytes heard now is due, before its delay.
    std::int64_t replyDueNs(qint32 baud, int requestBytes, int replyBytes) const;
    // Queues bytes to go out at dueNs, or at the latency timer's next expiry after it.
    void queue(std::int64_t dueNs, const QByteArray &bytes);
    // The steps of run(): write what is due, take a new TCP client, read what came and serve
    // each request whose frame is complete (hungUp: the pty's other side is closed).
    void sendDue(std::int64_t now);
    void acceptClient();
    void receive(bool &hungUp);

    SimBus *m_bus;
    int m_master = -1; // the pty master, or the TCP client
    int m_listen = -1;
    quint16 m_tcpPort = 0;
    int m_slave = -1;
    QString m_slaveName;
    QString m_linkPath;
    int m_lock = -1;
    bool m_log = true;
    bool m_echo = false;
    bool m_realTime = false;
    bool m_gateway = false;
    bool m_gatewaySilent = false;
    int m_latencyMs = 0;
    QByteArray m_rx;
    std::int64_t m_frameDeadlineNs = 0; // 0: no frame being collected
    struct Outgoing {
        std::int64_t dueNs;
        QByteArray bytes;
    };
    QList<Outgoing> m_out;
};

