#include "qserialline.h"

#include "serialports.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

SerialPortSettings serialPortSettings(const LineSettings &s)
{
    SerialPortSettings p;
    p.baud = s.baud;
    switch (s.parity) {
    case 'O': p.parity = QSerialPort::OddParity; break;
    case 'E': p.parity = QSerialPort::EvenParity; break;
    case 'M': p.parity = QSerialPort::MarkParity; break;
    case 'S': p.parity = QSerialPort::SpaceParity; break;
    default: p.parity = QSerialPort::NoParity; break;
    }
    p.dataBits = QSerialPort::DataBits(s.dataBits);
    p.stopBits = s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop;
    return p;
}

// Devices held open by this program. A device held by another window of the tool counts as in
// use even where the platform would let the same process open it twice.
static QSet<QString> &devicesInUse()
{
    static QSet<QString> inUse;
    return inUse;
}

QSerialLine::QSerialLine()
{
    connect(&m_port, &QSerialPort::readyRead, this, [this] {
        // What is buffered, handed over as QSerialPort read it (a slice of its 32 kB read chunk);
        // readAll would copy it into a new 32 kB array every time.
        const QByteArray bytes = m_port.read(m_port.bytesAvailable());
        if (!bytes.isEmpty())
            deliver(bytes);
    });
    connect(&m_port, &QSerialPort::errorOccurred, this, &QSerialLine::onError);
}

QSerialLine::~QSerialLine()
{
    close();
}

SerialLine::Result QSerialLine::openDevice(QSerialPort &port, const QString &device)
{
    if (device.isEmpty())
        return {Fault::DoesNotExist, QStringLiteral("no device for this port number")};
    if (devicesInUse().contains(device))
        return {Fault::InUse, QStringLiteral("%1 is open in another window").arg(device)};
#ifdef Q_OS_UNIX
    if (!QFileInfo::exists(device))
        return {Fault::DoesNotExist, QStringLiteral("%1 does not exist").arg(device)};
    if (::access(QFile::encodeName(device).constData(), R_OK | W_OK) != 0) {
        return {Fault::Other,
                QStringLiteral("%1 may not be opened by this user. Add the user to the group that "
                               "owns it (usually dialout: sudo usermod -aG dialout $USER), then "
                               "log in again.").arg(device)};
    }
#endif
    port.setPortName(device);
    if (port.open(QIODevice::ReadWrite))
        return {};
    const QString why = port.errorString();
    switch (port.error()) {
    case QSerialPort::DeviceNotFoundError:
        return {Fault::DoesNotExist, why};
    case QSerialPort::PermissionError:
        // Access was checked above, so what is left is a lock or a busy device: say who holds it
        // when /proc tells.
        if (const QStringList holders = deviceHolders(device); !holders.isEmpty())
            return {Fault::InUse, QStringLiteral("held by %1").arg(holders.join(QStringLiteral(", ")))};
        return {Fault::InUse, why};
    default:
        return {Fault::Other, why};
    }
}

SerialLine::Result QSerialLine::probe(int port)
{
    QSerialPort probe;
    const QString device = resolvePort(port).device;
    if (m_port.isOpen() && device == m_device)
        return {Fault::InUse, QStringLiteral("%1 is already open").arg(device)};
    Result result = openDevice(probe, device);
    if (result.ok())
        probe.close();
    return result;
}

SerialLine::Result QSerialLine::open(int port, const QString &settings)
{
    return openPath(resolvePort(port).device, settings);
}

SerialLine::Result QSerialLine::openPath(const QString &device, const QString &settings)
{
    close();
    const std::optional<LineSettings> s = parseSettingsText(settings);
    if (!s)
        return {Fault::Other, QStringLiteral("the settings \"%1\" are not valid").arg(settings)};
    Result result = openDevice(m_port, device);
    if (!result.ok())
        return result;
    const SerialPortSettings p = serialPortSettings(*s);
    bool ok = m_port.setBaudRate(p.baud);
    const bool parityOk = m_port.setParity(p.parity);
    // A pseudo-terminal (the simulator) has no parity: Linux clears it, and Qt reports the
    // read-back as a failure. A real port that refuses a parity still fails the open.
    if (!parityOk && !QFileInfo(device).canonicalFilePath().startsWith(QLatin1String("/dev/pts/")))
        ok = false;
    m_port.clearError();
    ok &= m_port.setDataBits(p.dataBits);
    ok &= m_port.setStopBits(p.stopBits);
    ok &= m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!ok) {
        const QString why = m_port.errorString();
        m_port.close();
        return {Fault::Other, why};
    }
    m_port.clear(QSerialPort::AllDirections);
    m_device = device;
    devicesInUse().insert(device);
    return {};
}

void QSerialLine::close()
{
    if (!m_device.isEmpty())
        devicesInUse().remove(m_device);
    m_device.clear();
    if (m_port.isOpen())
        m_port.close();
}

bool QSerialLine::isOpen() const
{
    return m_port.isOpen();
}

void QSerialLine::write(const QByteArray &frame)
{
    if (!m_port.isOpen())
        return;
#ifdef Q_OS_UNIX
    // Straight to the device when nothing waits in the port's buffer: QSerialPort would otherwise
    // wait for the next pass of the event loop to write it, a wake-up more per exchange.
    if (m_port.bytesToWrite() == 0) {
        const ssize_t n = ::write(int(m_port.handle()), frame.constData(), size_t(frame.size()));
        if (n == frame.size())
            return;
        if (n > 0) {
            m_port.write(frame.mid(n));
            return;
        }
    }
#endif
    m_port.write(frame);
}

int QSerialLine::descriptor() const
{
#ifdef Q_OS_UNIX
    return m_port.isOpen() ? int(m_port.handle()) : -1;
#else
    return -1;
#endif
}

void QSerialLine::onError(QSerialPort::SerialPortError error)
{
    // Only a line that stops working while open matters here; the open errors are reported by
    // open() and probe() themselves.
    if ((error != QSerialPort::ResourceError && error != QSerialPort::ReadError) || m_device.isEmpty())
        return;
    const QString why = m_port.errorString();
    close();
    emit failed(why);
}
