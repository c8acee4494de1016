// The parameter window's exchanges as a state machine: the read scan, which reopens the line at
// each of the eight communication-parameter settings in code order and sends the broadcast
// parameter read until a module answers, and the two parameter writes. Like the test windows'
// cycle it takes clicks, ticks, time-outs and what the line did as calls, and says what to do.
#pragma once

#include "cycle.h"
#include "decoders.h"

extern const QString kReadCaption;        // "Read"
extern const QString kParametersNotValid; // "Communication parameters are not valid！"

class ParameterCycle
{
public:
    static constexpr int kSteps = 8;
    static constexpr int kTickMs = 150, kReadTimeoutMs = 120, kWriteTimeoutMs = 300;

    // "Read"/"Stop": starts the scan, or pauses it where it is.
    CycleActions click(bool portOpen);
    // A scan tick. A port closed behind the scan's back ends it; an overdue reply is judged first
    // (a module that did answer ends the scan rather than be skipped); then the line is reopened.
    // echoKnown, here and below: the line hands every request back before the reply.
    CycleActions tick(bool portOpen, const QByteArray &received, bool echoKnown = false);
    // The reopen the tick asked for worked (the line is open) or not (the scan is over: a scan
    // on a port that will not open would only repeat the failure).
    CycleActions reopened(bool ok);
    CycleActions readTimeout(const QByteArray &received, bool echoKnown = false);
    // The user closed the port, or the line failed: the scan ends, so it never reopens a port
    // the technician closed.
    CycleActions portClosed();
    // The line failed: the scan ends wherever it was, a paused one included.
    CycleActions lineLost();

    // The two writes: the new address (broadcast) and the communication-parameter code.
    CycleActions writeAddress(bool portOpen, const BoxAddress &newAddress);
    CycleActions writeParameters(bool portOpen, const BoxAddress &address, const QString &parametersText);
    CycleActions writeTimeout(const QByteArray &received, bool echoKnown = false);

    bool scanning() const;
    // Combinations the current scan has tried; the next tick tries combination step().
    int step() const { return m_step; }
    bool enabled(TimerRef timer) const { return m_timers.enabled(timer); }
    // The parameters of the last accepted read.
    ModuleParameters found() const { return m_found; }
    // The line's framing, its transaction id the last request's: the window sets it from its line
    // before each call that judges.
    Framing framing;


private:
    void caption(CycleActions &out, const QString &text);
    void endScan(CycleActions &out);
    void judgeRead(CycleActions &out, const QByteArray &received, bool echoKnown);
    CycleActions send(const QByteArray &frame, TimerRef timeout);
    // The two writes: Clear, then the port, the address and what request() makes of the address
    // (nothing: the parameters are not valid) are checked in that order.
    CycleActions write(bool portOpen, const BoxAddress &address,
                       const std::function<std::optional<QByteArray>(std::uint8_t address)> &request);
    static CycleActions prompt(const QString &text);

    bool m_running = false; // caption "Stop"
    MachineTimers m_timers;
    int m_step = 0;
    QByteArray m_request;
    ModuleParameters m_found;
};
