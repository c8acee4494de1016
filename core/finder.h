// The bus finder: every module on a line, at every communication-parameter setting. First the
// broadcast parameter read at each chosen setting (silence: nobody listens there; a valid reply:
// one module; bytes that fail the check: several modules or noise), then, at each setting where
// anything was heard, the parameter read to every address of the range. Like the windows' cycles
// it is a state machine: what the line did goes in as calls with the time, what to do next comes
// out; the window, korvant-cli and the tests drive it with their own line and clock.
#pragma once

#include "decoders.h"
#include "framing.h"
#include "modbus.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

// What a broadcast parameter read brought back.
enum class Heard { Nothing, OneModule, Garbled };
Heard hearBroadcast(const QByteArray &received);

// The time the request and reply bytes take on the line at a code's baud rate and parity: start,
// 8 data bits, the parity bit where there is one, and a stop bit per byte. Code 0 (a device
// server, whose line speed the tool does not know) counts the slowest setting, 4800 with parity.
qint64 lineTimeUs(int code, int bytes);

// A reply that can be judged before its time-out: the parameter reply's length, or a whole
// exception frame.
bool parameterReplyComplete(const QByteArray &received);

struct FinderOptions {
    QList<int> codes{1, 2, 3, 4, 5, 6, 7, 8}; // swept in this order
    int from = kFirstModuleAddress, to = kLastModuleAddress;
    // Added to the line time of each probe: the module's own turnaround and what the adapter
    // holds back. A USB adapter's latency timer keeps bytes up to 16 ms, a module answers within
    // a few, so 20 ms by default.
    int turnaroundMs = 20;
    // Replaces the computed time-out when above 0 (the tools' --timeout).
    int timeoutMs = 0;
    // A device server carries every setting alike: one sweep, each module's code from its register.
    bool lineCarriesSettings = true;
    // Replies come no sooner than the line lets them, so bytes in sooner are the probe before's
    // (every real line; the in-process test line answers at once).
    bool repliesTakeLineTime = true;
    // MBAP: behind a Modbus TCP gateway, which has no line settings to try and may drop unit 0:
    // no broadcast, the unit ids of the range asked once. The bytes judged are as they came over
    // the wire; a gateway's own exception (0x0A, 0x0B) says nobody answers at that unit id.
    FramingKind framing = FramingKind::Rtu;
    bool gateway() const { return framing == FramingKind::Mbap; }
};

// Why the settings are not swept, for the one sweep behind a gateway; empty for a line.
QString sweepNote(const FinderOptions &options);

struct FinderRow {
    enum Kind { Module, Exception, SharedAddress, SettingNote } kind = Module;
    int address = 0;        // 0 for a note about a setting
    int code = 0;           // register 101 (the code it says it has); 0 when unknown
    int model = 0;          // register 102; 0 when unknown
    int heardCode = 0;      // the setting it answered at; 0 over a device server
    double responseMs = -1; // from the request to the last byte
    QString note;
    bool late = false;      // came after its probe's time-out, during a later one
    // The baud rate and parity it answered at (over a device server: the ones its code names).
    int baud() const;
    char parity() const;
    bool isModule() const { return kind != SettingNote; }
};

class BusFinder
{
public:
    struct Next {
        // Listen: send nothing; what comes until the deadline goes to judged() as a reply would.
        enum Kind { Open, Send, Listen, Done } kind = Done;
        int code = 0;           // Open: the setting (0: any, over a device server)
        QByteArray frame{};     // Send
        qint64 deadlineUs = 0;  // Send: judge the reply then, or earlier once it is complete; Listen: then
    };

    explicit BusFinder(FinderOptions options);

    Next start(qint64 nowUs);
    // The line is open at the setting asked for, or could not be opened (the sweep ends).
    Next opened(bool ok, qint64 nowUs);
    // What came since the last Send or Listen, and when its last byte came (-1: nothing).
    // Behind a gateway: the MBAP frames as they came.
    Next judged(const QByteArray &received, qint64 lastByteUs, qint64 nowUs);
    // Stop: nothing more is sent; what was found stays.
    void stop();

    bool running() const { return m_phase != Phase::Done && m_started; }
    // Rows in the order found (modules at settings that differ only in parity merged).
    const QVector<FinderRow> &rows() const { return m_rows; }
    // A shared address, or bytes at a broadcast that the modules found do not explain.
    bool faultFound() const;
    int modulesFound() const;
    // Probes sent and planned (the sweeps are planned once the broadcasts are done), and the
    // longest the rest can take.
    int probesSent() const { return m_sent; }
    int probesPlanned() const;
    qint64 timeLeftUs() const;
    // The wait for a reply at a setting: the line time of request and reply plus the turnaround
    // (or --timeout), and no shorter than twice the slowest response heard there.
    qint64 timeoutUs(int code) const;
    // Bytes heard at a broadcast that were never explained by the modules found (stopped or not).
    bool heardGarbled() const { return m_broadcast.contains(Heard::Garbled); }

private:
    enum class Phase { Broadcast, Sweep, Done };
    Next openNext(qint64 nowUs);
    Next send(const QByteArray &frame, qint64 nowUs, bool again = false);
    // What the reply to one probe of a sweep says: a module, an exception, a shared address, or
    // nothing to show.
    std::optional<FinderRow> judgeProbe(const QByteArray &received, qint64 lastByteUs) const;
    // The probe's bytes are in: judged, rows added, and what to send next.
    Next settle(QByteArray received, qint64 lastByteUs, qint64 nowUs);
    // The length of an earlier probe's echo or whole reply at the front of what came (0: none).
    int lateItem(const QByteArray &received) const;
    // How many bytes at the front of what came are earlier probes' echoes and whole replies.
    int lateBytes(const QByteArray &received) const;
    // Whole replies from addresses asked before, taken off the front of what came.
    QByteArray takeLateReplies(QByteArray received, qint64 lastByteUs);
    void heard(qint64 sentAtUs, qint64 lastByteUs, int bytes);
    // A row to report, or, while it is doubtful and its address not yet asked again, to ask about.
    void consider(const FinderRow &row);
    Next nextProbe(qint64 nowUs);
    int code() const;
    void finish();
    void add(FinderRow row);
    QList<int> settings() const;

    FinderOptions m_options;
    Phase m_phase = Phase::Broadcast;
    bool m_started = false;
    int m_settingIndex = 0;  // into settings() (broadcasts) or m_heard (sweeps)
    int m_address = 0;
    qint64 m_sentAtUs = 0;
    qint64 m_waitUs = 0;       // the wait of the probe out now
    QByteArray m_wire;         // what came for it so far (a Listen adds to it)
    QByteArray m_received;     // the same as RTU frames
    qint64 m_lastByteUs = -1;
    bool m_listening = false;
    bool m_reasking = false;   // the probe out now asks again with four times the wait
    QHash<int, qint64> m_slowestUs;   // per setting: the slowest response heard
    struct Asked { qint64 sentUs, deadlineUs; };
    QHash<int, Asked> m_asked;        // this setting's addresses: when each was last asked
    int m_previous = 0;               // the address asked before the one out now (0: none)
    int m_again = 0;                  // probes asked again
    QList<FinderRow> m_doubts;        // rows to ask again before they are reported
    QList<int> m_reasked;             // addresses asked again at this setting
    int m_sent = 0;
    QByteArray m_request;
    QList<int> m_heard;          // settings to sweep, in order
    QVector<Heard> m_broadcast;  // per index of settings()
    QVector<ModuleParameters> m_broadcastFound;
    QVector<FinderRow> m_rows;
    QHash<int, int> m_foundAt; // modules that answered in the sweep of each setting
    bool m_fault = false;      // bytes at a broadcast that the sweep did not explain
};
