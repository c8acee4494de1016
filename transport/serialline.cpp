#include "serialline.h"

#include "qserialline.h"
#include "tcpline.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace {

// The line of a port number: the serial device or the TCP target that COMn stands for.
class PortLine : public SerialLine
{
public:
    PortLine()
    {
        for (SerialLine *line : {static_cast<SerialLine *>(&m_serial), static_cast<SerialLine *>(&m_tcp)})
            connect(line, &SerialLine::failed, this, &SerialLine::failed);
    }
    void setReceiver(Receiver receiver) override
    {
        m_serial.setReceiver(receiver);
        m_tcp.setReceiver(std::move(receiver));
    }
    Result probe(int port) override { return lineFor(port)->probe(port); }
    Result open(int port, const QString &settings) override { return use(lineFor(port))->open(port, settings); }
    Result openNamed(const QString &port, const QString &settings) override
    {
        const PortTarget target = resolvePort(port);
        return target.tcp ? use(&m_tcp)->openTarget(*target.tcp, settings) : use(&m_serial)->openPath(target.device, settings);
    }
    void close() override
    {
        if (m_active)
            m_active->close();
    }
    bool isOpen() const override { return m_active && m_active->isOpen(); }
    void write(const QByteArray &frame) override
    {
        if (m_active)
            m_active->write(frame);
    }
    QString deviceName(int port) const override
    {
        return resolvePort(port).tcp ? m_tcp.deviceName(port) : m_serial.deviceName(port);
    }

private:
    template <typename Line>
    Line *use(Line *line)
    {
        if (m_active && m_active != line)
            m_active->close();
        m_active = line;
        return line;
    }
    SerialLine *lineFor(int port) { return resolvePort(port).tcp ? static_cast<SerialLine *>(&m_tcp) : &m_serial; }

    QSerialLine m_serial;
    TcpLine m_tcp;
    SerialLine *m_active = nullptr;
};

} // namespace

SerialLine::Result SerialLine::openNamed(const QString &port, const QString &)
{
    return {Fault::DoesNotExist, QStringLiteral("%1: this line opens COM ports only").arg(port)};
}

static SerialLineFactory g_factory;

std::unique_ptr<SerialLine> makeSerialLine()
{
    return g_factory ? g_factory() : makeProgramLine();
}

std::unique_ptr<SerialLine> makeProgramLine()
{
    return std::make_unique<PortLine>();
}

void setSerialLineFactory(SerialLineFactory factory)
{
    g_factory = std::move(factory);
}

std::optional<QString> readWaiting(int fd, bool socket, QByteArray &bytes)
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            bytes.append(buffer, n);
            if (n < ssize_t(sizeof buffer))
                return std::nullopt; // all there was
        } else if (n == 0) {
            return socket ? std::optional<QString>(QStringLiteral("the other end closed the connection")) : std::nullopt;
        } else {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                return std::nullopt;
            return QString::fromLocal8Bit(std::strerror(errno));
        }
    }
}
