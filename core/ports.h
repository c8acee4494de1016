// What a port name stands for: COMn (1 to 9) is looked up below the working folder each time it
// is asked, so a simulator's link or a device server's file counts from the next probe or open;
// korvant-cli's --port also takes a device path or a tcp:// target as given. The windows' line
// and korvant-cli both ask here.
#pragma once

#include "framing.h"

#include <QString>

#include <optional>

// A port target "tcp://HOST:PORT": RTU frames over TCP to a serial device server; or
// "mbap://HOST[:PORT]" (502 unless given): Modbus TCP to a gateway, the module's address as the unit id.
struct TcpTarget {
    QString host;
    quint16 port = 0;
    FramingKind framing = FramingKind::Rtu;
    QString text() const
    {
        return QStringLiteral("%1://%2:%3").arg(framing == FramingKind::Mbap ? "mbap" : "tcp", host).arg(port);
    }
    bool operator==(const TcpTarget &) const = default;
};
// "tcp://HOST:PORT" or "mbap://HOST[:PORT]" (blanks around it allowed), nothing for any other text.
std::optional<TcpTarget> parseTcpTarget(const QString &text);

// 1..9 for "COM1".."COM9" (any case), 0 for anything else (a device path).
int comPortNumber(const QString &port);

struct PortTarget {
    QString device;                // the serial device, when it is not a device server
    std::optional<TcpTarget> tcp;  // the device server
    // The device or the target, as messages name it.
    QString name() const { return tcp ? tcp->text() : device; }
    // How the exchanges over it are framed: MBAP to a gateway, else RTU.
    FramingKind framing() const { return tcp ? tcp->framing : FramingKind::Rtu; }
};

// The sys folder korvant-cli looks COMn up in, as the launcher picks the windows' working folder:
// sys/ in workingFolder when that is a folder, else DATA/korvant/sys, DATA being xdgDataHome when
// it is an absolute path, else home/.local/share.
QString toolSysFolder(const QString &workingFolder, const QString &xdgDataHome, const QString &home);

// Port n: a regular file sys/COMn whose first line is a tcp:// or mbap:// target is that target;
// else the target of a link sys/COMn, or the file sys/COMn itself, else /dev/ttyUSB{n-1} when it
// exists, else /dev/ttyS{n-1} (COMn on Windows). No device for a number outside 1..9. sys is the
// working folder's sys/ unless sysFolder names another.
PortTarget resolvePort(int port, const QString &sysFolder = {});
// A port as korvant-cli's --port names it: a tcp:// or mbap:// target, COMn as above, or a device path.
PortTarget resolvePort(const QString &port, const QString &sysFolder = {});
// Whether two device paths name one device that exists, links followed.
bool sameDevice(const QString &a, const QString &b);
// The number n whose COMn stands for the same device or target as port (n itself for "COMn"),
// 0 when none does: a module's window opens its port by number.
int comNumberFor(const QString &port, const QString &sysFolder = {});
