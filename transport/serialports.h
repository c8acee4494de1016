// The serial devices of the system, read from /dev and /sys as plain files (no port is opened), and
// who holds a device open, read from /proc. The roots are parameters so the tests lay out a small
// /dev, /sys and /proc of their own; korvant-cli's ports and the windows' port choice share this.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct SerialPortEntry {
    QString device;       // "/dev/ttyUSB0"
    QString byId;         // its stable name, "/dev/serial/by-id/usb-FTDI_..."; empty for none
    QString description;  // "FT232R USB UART": the USB product, else the interface's name
    QString manufacturer; // "FTDI"
    QString serialNumber; // "A50285BI"
    bool exists = false;  // the device node is there
    bool mayOpen = false; // this user may read and write it
    int latencyTimerMs = -1; // the USB-serial driver's latency_timer in sysfs; -1 where it has none
};

// Every tty in SYS/class/tty that stands for a device (it has a device link), except the serial
// core's places for a UART that is not fitted (type 0: the ttyS ports of a PC without them).
// Sorted by name, numbers in numeric order (ttyUSB2 before ttyUSB10).
QList<SerialPortEntry> listSerialPorts(const QString &devRoot = QStringLiteral("/dev"),
                                       const QString &sysRoot = QStringLiteral("/sys"));

// The latency timer of the adapter behind a device (a link to it followed), in ms: a USB-serial
// adapter's latency_timer; 0 for a pseudo-terminal and for a port on the machine's own bus; -1
// where the system does not tell (a USB adapter without that attribute, a device SYS lacks).
int adapterLatencyMs(const QString &device, const QString &devRoot = QStringLiteral("/dev"),
                     const QString &sysRoot = QStringLiteral("/sys"));

// The other processes that have the device open, as "minicom (PID 812)", found among the open
// files in PROC/<pid>/fd, in PID order; this process is left out, and so is a process whose
// descriptors this user may not read.
QStringList deviceHolders(const QString &device, const QString &procRoot = QStringLiteral("/proc"));
