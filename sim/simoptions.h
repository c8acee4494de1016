// The command line of korvant-sim.
#pragma once

#include "simmodule.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

struct SimModuleSetup {
    int model = 0;
    int address = 1;
    int code = 2;
    SimFaults faults;
    std::optional<quint32> inputs; // bit i = discrete input i
    std::optional<quint32> coils;  // bit i = coil i
    QList<std::uint16_t> holding;  // holding 0, 1, ... in order
};

struct SimOptions {
    QString dir = QStringLiteral(".");
    int port = 1;
    bool help = false;
    bool version = false;
    bool quiet = false; // no per-frame log
    bool echo = false;  // the adapter hands every request back
    bool realTime = false; // the 3.5-character silence before each reply as well
    int latencyMs = 0;  // the adapter hands bytes over in batches this far apart
    // Serve on TCP instead of a pty: the host (127.0.0.1 unless given) and port (0: a free one).
    std::optional<QString> tcpHost;
    quint16 tcpPort = 0;
    bool mbap = false;          // --mbap: the TCP port is a Modbus TCP gateway in front of the modules
    bool gatewaySilent = false; // the gateway answers a unit nobody has with silence, not exception 0x0B
    QList<SimModuleSetup> modules; // empty: one generic module at address 1, code 2
};

// Parses the arguments after the program name. Returns an error text, empty on success.
QString parseSimOptions(const QStringList &args, SimOptions &options);

QString simUsage();
