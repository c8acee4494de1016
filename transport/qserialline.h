// The real serial line: a QSerialPort on the device that COMn stands for.
#pragma once

#include "ports.h"
#include "serialline.h"

#include <QSerialPort>

// Line settings as QSerialPort takes them.
struct SerialPortSettings {
    qint32 baud = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;
};
SerialPortSettings serialPortSettings(const LineSettings &s);

class QSerialLine : public SerialLine
{
    Q_OBJECT
public:
    QSerialLine();
    ~QSerialLine() override;

    Result probe(int port) override;
    Result open(int port, const QString &settings) override;
    // The same on a device named by its path (what resolvePort gives, or any other).
    Result openPath(const QString &device, const QString &settings);
    void close() override;
    bool isOpen() const override;
    void write(const QByteArray &frame) override;
    int descriptor() const override;
    QString deviceName(int port) const override { return resolvePort(port).device; }

private:
    Result openDevice(QSerialPort &port, const QString &device);
    void onError(QSerialPort::SerialPortError error);

    QSerialPort m_port;
    QString m_device;
};
