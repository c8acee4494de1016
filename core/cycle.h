// The request/reply cycle of a test window as a state machine: timer-driven reads
// ("Acquisition"/"Stop"), one write per "Validate" that suspends a running read and resumes it,
// and the judgement of each reply when its time-out fires. Clicks, ticks and time-outs go in as
// calls; what the window is to do comes out as actions, in order. No widget, port or timer here:
// the window applies the actions to its own, and a test applies them to a fake clock.
#pragma once

#include "exchange.h"
#include "modbus.h"
#include "models.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <QHash>

#include <cstdint>
#include <functional>
#include <optional>

// The timers a machine drives. For a test window: the acquisition and read time-out of each read
// cycle, and the write time-out; the parameter scan uses its own three.
struct TimerRef {
    enum Kind : std::uint8_t { Acquisition, ReadTimeout, WriteTimeout } kind = Acquisition;
    int index = 0; // the read cycle, 0 for the write time-out
    bool operator==(const TimerRef &) const = default;
};

struct CycleAction {
    enum Kind : std::uint8_t {
        Pause,        // block for ms (the write suspending a running read)
        Clear,        // empty the status box, both strings and the send and receive boxes
        Prompt,       // a message box with text
        Send,         // show frame as the last request and write it in one block
        Enable,       // enable timer (an enabled one runs on as it was)
        Disable,      // disable timer
        Judged,       // a reply was judged: verdict; decode tells whether cycle's panel shows it
        Caption,      // the start/stop button of cycle now reads text
        Reopen,       // parameter scan: close the line and open it at step's settings (0..7:
                      // that code-table row, which the baud and parity boxes then show; any
                      // other step keeps the boxes); answer with reopened()
    } kind;
    explicit CycleAction(Kind k = Clear) : kind(k) {}
    CycleAction(Kind k, const QString &t) : kind(k), text(t) {}     // Prompt, Caption
    CycleAction(Kind k, const QByteArray &f) : kind(k), frame(f) {} // Send
    int ms = 0;
    QString text;
    QByteArray frame;
    TimerRef timer;
    int cycle = -1; // for Judged: the read cycle, or -1 for the write
    int step = -1;  // for Reopen
    ReplyVerdict verdict;
    bool decode = false;
    // For Judged: what came back split as the line's echo and the reply the verdict is on (what
    // a panel decodes), and whether the line is now known to echo (it was, or these bytes showed it).
    QByteArray echo;
    QByteArray reply;
    bool echoKnown = false;
    // A Judged action: received judged against request at replyLength (the echo set aside first
    // where the line is known to echo), with the verdict, echo, reply and what it knows of the echo.
    static CycleAction judged(const QByteArray &request, int replyLength, const QByteArray &received, bool echoKnown,
                              const Framing &framing);
};
using CycleActions = QVector<CycleAction>;

// Which of a machine's timers are enabled, and the actions that switch them: both machines keep
// their timers this one way. The write time-out is one timer whatever its index.
class MachineTimers
{
public:
    bool enabled(TimerRef timer) const { return m_on.value(key(timer)); }
    // Records timer as on or off and asks the window to follow: Enable or Disable timer.
    void set(CycleActions &out, TimerRef timer, bool on);

private:
    static int key(TimerRef timer) { return timer.kind == TimerRef::WriteTimeout ? -1 : timer.index * 2 + timer.kind; }
    QHash<int, bool> m_on;
};

// Texts the cycle shows.
extern const QString kAcquisitionCaption;        // "Acquisition"
extern const QString kStopCaption;               // "Stop"
extern const QString kOpenPortFirst;             // "Please open serial port！"
extern const QString kAddressNotSelected;        // "Module Address Not Selected！"
extern const QString kAnalogAddressNotSelected;  // "Moudle address not selected！"
extern const QString kAddressRangeMessage;       // "Module address must be a number from 0 to 255！"

// A module address as an address box gives it when a request is due: the number, or the message
// that says why there is none (emptyMessage for an empty box, the range message for a text that
// is no whole number 0..255 by addressFromText). The machines take it; the windows read their
// box anew for each tick and each "Validate".
struct BoxAddress {
    BoxAddress() = default;
    BoxAddress(std::uint8_t n) : number(n) {}
    std::optional<std::uint8_t> number;
    QString problem;
};
BoxAddress addressFromBox(const QString &text, const QString &emptyMessage);

class AcquisitionCycle
{
public:
    struct Read {
        std::uint8_t function = 0x02;
        std::uint16_t start = 0;
        std::uint16_t count = 0;
        // The message for an empty address box: kAddressNotSelected or kAnalogAddressNotSelected.
        enum EmptyAddress : std::uint8_t { DigitalAddressMessage, AnalogAddressMessage } emptyAddress = DigitalAddressMessage;
        const QString &emptyMessage() const
        {
            return emptyAddress == AnalogAddressMessage ? kAnalogAddressNotSelected : kAddressNotSelected;
        }
        // Digital inputs change only while their cycle runs: a reply judged after "Stop" is
        // shown but changes no indicator. Analog values always follow an accepted reply.
        bool decodeOnlyWhileAcquiring = false;
    };

    explicit AcquisitionCycle(QVector<Read> reads = {});

    int reads() const { return int(m_reads.size()); }
    const Read &read(int cycle) const { return m_reads[cycle]; }

    // "Acquisition"/"Stop" of a read cycle. Starting one stops any other: they share the port.
    CycleActions click(int cycle);
    // The acquisition tick: judges an overdue reply first (a busy machine can deliver the tick
    // before the time-out), then clears the displays and, with the port open and an address,
    // sends the read; else it stops and says why (the port first, then the address's problem).
    // received: the bytes that came since the last request; echoKnown: the line hands every
    // request back first (its echo is set aside before the reply is judged).
    CycleActions tick(int cycle, bool portOpen, const BoxAddress &address, const QByteArray &received,
                      bool echoKnown = false);
    CycleActions readTimeout(int cycle, const QByteArray &received, bool echoKnown = false);
    // "Validate": suspends a running read (300 ms pause), then sends request(address).
    CycleActions validate(bool portOpen, const BoxAddress &address,
                          const std::function<QByteArray(std::uint8_t address)> &request);
    // A single-register write's reply equals its request: with the echo unknown the bytes are
    // taken as the reply.
    CycleActions writeTimeout(const QByteArray &received, bool echoKnown = false);
    // The line failed while open: every cycle stops.
    CycleActions lineLost();

    // The caption of cycle's button reads "Stop".
    bool acquiring(int cycle) const { return m_running[cycle]; }
    // The line's framing, its transaction id the last request's: the window sets it from its line
    // before each call that judges.
    Framing framing;

    bool enabled(TimerRef timer) const { return m_timers.enabled(timer); }
    // 0: nothing to resume; n: read cycle n-1 is suspended for a write.
    int suspended() const { return m_resume; }

private:
    void run(CycleActions &out, int cycle, bool on);
    void stop(CycleActions &out, int cycle) { run(out, cycle, false); }
    void judgeRead(CycleActions &out, int cycle, const QByteArray &received, bool echoKnown);
    void resumeSuspended(CycleActions &out);

    QVector<Read> m_reads;
    QVector<bool> m_running; // per read cycle: its caption reads "Stop"
    MachineTimers m_timers;
    int m_resume = 0;
    QByteArray m_request;
};

// The reads a model's window makes, in the order of its cycles: analog registers 0.. (function
// 03, one a channel), then digital inputs 0.. (function 02). A model without inputs has none.
QVector<AcquisitionCycle::Read> modelReads(const ModelRow &row);
