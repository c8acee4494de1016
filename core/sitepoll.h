// The whole site polled over its one line, one request at a time, as a machine the caller drives:
// next() says what to send (and at which setting), heard() takes the judged exchange. Each module
// first has its parameter registers read: one of another model is never read as the site's, one
// at another setting than the line's is flagged. Then rounds of each module's reads and the
// read-back of its outputs; the outputs the user sets are written before the next read. A module
// that does not answer is asked every 2nd, 4th, 8th, then 16th round until it answers again.
// Outputs are read back after a write and every 4th round.
// No port, timer or widget here: korvant-cli's site poll and the site window drive the same one.
#pragma once

#include "exchange.h"
#include "finder.h"
#include "onemodule.h"
#include "sitefile.h"
#include "valuelog.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

struct SiteRequest {
    enum Kind { None, Parameters, Read, ReadBack, Write } kind = None; // None: a site of no module
    int module = -1; // the index of the site's module
    int code = 0;    // the setting to talk at (the module's): the caller reopens when it changes
    QByteArray frame;
    int read = -1;   // Read: the index of the model's read (modelReads)
};

// The last exchange of a module: OK, an answer later than its line time plus 20 ms, nothing, or a
// reply refused (an exception, bad CRC, ...).
enum class SiteHealth { Unknown, Ok, Late, NoReply, Errors };
QString healthText(SiteHealth health); // "", "OK", "late", "no reply", "errors"

struct SiteModuleState {
    // What its parameter registers said: not yet read, its model is the site's, or another.
    enum class Check { Unread, Matches, OtherModel } check = Check::Unread;
    int heardModel = 0; // register 102
    int heardCode = 0;  // register 101
    bool readBack = true; // false once it answered the read-back with exception 1
    bool readBackDue = true; // written (or never read back) since its last read-back
    SiteHealth health = SiteHealth::Unknown;
    int ok = 0, late = 0, noReply = 0, errors = 0;
    double lastMs = -1, totalMs = 0; // response times of the replies that came
    ReplyVerdict lastVerdict{Refusal::NoReply};
    int every = 1;     // asked every n-th round
    int dueRound = 0;  // the next round it is asked in
    QList<bool> outputs; // as last read back or written (digital outputs)
    QList<bool> wanted;  // as the user set them; written when they differ from outputs
    std::optional<std::uint16_t> analogOutput, analogWanted; // KV1720ADAM's register 0
    QVector<QVector<ValueRow>> reads; // the rows of each read's last accepted reply
    QVector<ValueRow> readBackRows;

    double avgMs() const { return ok + late + errors > 0 ? totalMs / (ok + late + errors) : -1; }
};

// The longest a module is left unasked: every 16th round.
constexpr int kSiteBackOffRounds = 16;
// Outputs nobody wrote are read back every 4th round.
constexpr int kReadBackRounds = 4;

class SitePoll
{
public:
    explicit SitePoll(Site site);

    // What to send next: a write the user asked for first, else the next module due in this round
    // (a round ends when every module due in it has been asked; rounds where none is due are passed).
    SiteRequest next();
    // The exchange of the request next() gave, judged, and its response time (-1: no byte) with
    // the wall clock of its end (the values' time).
    void heard(const Exchange &judged, double responseMs, qint64 wallMs);

    // An output switched (1-based), or KV1720ADAM's output set (µA): written before the next read.
    // False for a module not (yet) known to be of its model, or without such an output.
    bool setOutput(int module, int output, bool on);
    bool setAnalogOutput(int module, std::uint16_t microamps);

    const Site &site() const { return m_site; }
    // A tag edited in place: the module's (channel empty) or a channel's (by its caption); the
    // values shown carry it at once. The caller writes site() to its file.
    void retag(int module, const QString &channel, const QString &tag);
    int modules() const { return int(m_site.modules.size()); }
    const SiteModuleState &state(int module) const { return m_states[module]; }
    // The round under way (from 0); every module is first asked in round 0.
    int round() const { return m_round; }

    // What the module's tile says beside its health, each its own line: "KV1730ADAM answers at
    // address 2, the site says KV1710ADAM", "at code 5 (19200,None,8,1), not the line's code 2
    // (9600,None,8,1)", "no read-back".
    QStringList notes(int module) const;
    // Its register 101 (or, unread, its site code) is not the line's.
    bool offLineSetting(int module) const;
    // Behind a Modbus TCP gateway the line is the gateway's, at its one setting: every request goes
    // at the site's code (the line never reopened), and no module is off the line's setting, since
    // one that answers is on it; moving one would cut it off from the gateway.
    void setGateway(bool on) { m_gateway = on; }
    // "Move to the line's setting": the verified write of the line's code to this module alone
    // (the caller drives it over the line, the poll paused); after it was Written, moved() makes
    // the site's module answer at the line's code and reads its parameters again.
    OneModuleWrite moveToLine(int module) const;
    void moved(int module);

    // The module's latest values: its inputs, then its outputs as read back, each with its
    // channel's tag.
    QVector<ValueRow> values(int module) const;

private:
    SiteRequest request(int module, SiteRequest::Kind kind, QByteArray frame, int read = -1) const;
    std::optional<SiteRequest> step(int module) const;
    void advance();
    void settle();
    void tally(SiteModuleState &s, const Exchange &judged, double responseMs);
    void took(int module, const SiteRequest &r, const Exchange &judged, qint64 wallMs);
    void wrote(SiteModuleState &s, const QByteArray &frame, bool accepted);
    void tagged(int module, QVector<ValueRow> &rows) const;

    Site m_site;
    QVector<SiteModuleState> m_states;
    QList<int> m_writes; // modules with a write to make, in the order asked
    int m_round = 0;
    int m_module = 0;    // the module asked in this round
    int m_step = 0;      // its step in this round: a read's index, then the read-back
    SiteRequest m_out;   // the request given last
    bool m_gateway = false;
};

// How long the site window waits for a request's reply at a code: both frames' line time (room for
// the request's echo) plus 50 ms. After a complete reply it waits replyQuietUs (linesettings.h).
int siteTimeoutMs(const QByteArray &request, int code);

// The CSV lines of site poll: a value log's fields, then the module's and the channel's tags:
// "time,window,address,channel,value,unit,raw,text,module_tag,channel_tag".
extern const QString kSiteCsvHeader;
QString siteCsvLine(const ValueRow &row, const QString &moduleTag);

// A site of the modules a sweep found, tags empty, each at the code its register holds (the
// setting it answered at); the line's code is the one most of them have
// (the lowest of a tie; 2 for none).
Site siteOfFound(const QVector<FinderRow> &rows, const QString &name, const QString &port);
