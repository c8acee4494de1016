// The in-process front end of the simulated bus: a SerialLine whose far end is a SimBus, for GUI
// tests. It sees the exact settings text a window opens the port with, and delivers replies from
// the event loop like a real port would.
#pragma once

#include "serialline.h"
#include "simmodule.h"

#include <QElapsedTimer>
#include <QList>

class SimLine : public SerialLine
{
    Q_OBJECT
public:
    explicit SimLine(SimBus *bus, QObject *parent = nullptr);
    ~SimLine() override;

    // probe(n): ok for 1..9 unless marked missing (DoesNotExist) or in use (InUse), or held open
    // by another SimLine (InUse, as the real line reports a port another window holds); other
    // port numbers -> DoesNotExist.
    Result probe(int port) override;
    // Records the text, then: parseSettingsText must accept it (else Other), then the probe's
    // rules apply. A line already open is closed first.
    Result open(int port, const QString &settings) override;
    void close() override;
    bool isOpen() const override { return m_port != 0; }
    // Records the frame and lets the bus answer at the open baud rate and parity; the reply comes
    // later through received(), honouring the answering module's delay and pieces. Nothing
    // happens while closed. Replies still pending when the line closes are dropped.
    void write(const QByteArray &frame) override;
    QString deviceName(int port) const override;
    bool takesLineTime() const override { return false; } // replies come at once

    QString lastSettings() const { return m_lastSettings; } // exact text last given to open()
    QList<QByteArray> writes() const { return m_writes; }   // every frame written while open
    void clearWrites() { m_writes.clear(); }                // long runs would keep them all
    int openCount() const { return m_openCount; }           // successful opens
    int openPort() const { return m_port; }                 // 0 while closed
    SimBus *bus() const { return m_bus; }
    // The adapter hands every request back before any reply (two-wire RS-485 without echo suppression).
    bool echo = false;

    // Delivers arbitrary bytes at once (synchronously) as if received; dropped while closed.
    void injectBytes(const QByteArray &b);
    // The line breaks while open: it closes and emits failed(why). Nothing happens while closed.
    void fail(const QString &why = QStringLiteral("device removed"));

    // Process-wide test switches.
    static void setPortMissing(int n, bool missing);
    static void setPortInUse(int n, bool inUse);
    static void resetPorts(); // clears both switches for every port
    // Every SimLine alive right now, oldest first (lets a test reach the line a window made).
    static QList<SimLine *> instances();

private:
    Result check(int port) const;

    SimBus *m_bus;
    int m_port = 0;
    LineSettings m_settings;
    QString m_lastSettings;
    QList<QByteArray> m_writes;
    int m_openCount = 0;
    quint64 m_session = 0; // bumped on every close so late replies of an old session are dropped
    QElapsedTimer m_clock; // drives SimBus::tick between writes
};

// Installs a factory so every window created afterwards gets a SimLine on `bus`.
void useSimulatedBus(SimBus *bus);
