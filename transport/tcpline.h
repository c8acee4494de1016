// RTU frames over a TCP connection: a serial device server in TCP server mode stands between the
// tool and the RS-485 bus. The frames go unchanged (no MBAP header); the baud rate and parity are
// set on the device server, so this line takes any valid settings text and ignores it.
#pragma once

#include "ports.h"
#include "serialline.h"

#include <QSocketNotifier>
#include <QTimer>

#include <memory>

class TcpLine : public SerialLine
{
    Q_OBJECT
public:
    // Connecting, the host lookup included, gives up after this long.
    static constexpr int kConnectMs = 2000;

    TcpLine();
    ~TcpLine() override;

    Result probe(int port) override;
    Result open(int port, const QString &settings) override;
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &frame) override;
    int descriptor() const override { return isOpen() ? m_fd : -1; }
    QString deviceName(int port) const override;

    // open() for a target given directly (the command-line tool).
    Result openTarget(const TcpTarget &target, const QString &settings);

private:
    Result connectTo(const TcpTarget &target);
    bool connected() const; // the socket is there and the other end has not closed it
    void onReadable();
    void drop();

    int m_fd = -1; // a non-blocking socket
    std::unique_ptr<QSocketNotifier> m_notifier;
    TcpTarget m_target;
    bool m_open = false;
    // A connection that was probed or closed lingers until the event loop runs again, so the
    // open right after a probe, and the parameter scan's close and reopen, reuse it: device
    // servers often take one client at a time.
    QTimer m_linger;
};
