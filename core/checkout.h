// An I/O checkout of a site: every channel of every module with its test, the rules that decide a
// test (an input seen in both states, an analog value held within tolerance for a second), and the
// journal that keeps each decided result: NAME.checkout.jsonl beside the site file, one JSON object
// a line, appended and flushed to the disk before the result is shown as decided. No widget here:
// the checkout window and korvant-cli's checkout report both use it.
#pragma once

#include "sitefile.h"

#include <QString>
#include <QVector>

#include <optional>

enum class CheckKind { Input, Output, AnalogInput, AnalogOutput };
// "digital input", "output", "analog input", "analog output"
QString checkKindText(CheckKind kind);

// Untested: nothing decided yet (never written to the journal).
enum class Verdict { Untested, Pass, Fail, NotTested };
// "", "Pass", "Fail", "Not tested"; and back (none for any other text)
QString verdictText(Verdict verdict);
std::optional<Verdict> verdictOf(const QString &text);

// A test point of an analog channel: the value to see (or set) and how far from it still passes,
// in the channel's unit.
struct CheckPoint {
    double target = 0;
    double tolerance = 0;
};

// One channel of the checkout: which module (the index in the site) and which channel (its
// caption, "DI_03", "AI_2", "RY_01", "AO" for KV1720ADAM's output), its kind, tag, unit and points.
struct CheckChannel {
    int module = 0;
    QString channel;
    CheckKind kind = CheckKind::Input;
    QString tag;          // the channel's tag in the site ("pump 2 running")
    QString unit;         // "mA", "V", "℃"; empty for a digital channel
    int index = 0;        // the channel's number within its kind on its module, from 0
    QVector<CheckPoint> points; // analog: 4, 12, 20 mA; 0, 5, 10 V; none for a temperature
};

// Every channel of every module of the site, grouped by module in the site's order; within a
// module its digital inputs, its outputs, its analog inputs, its analog output.
QVector<CheckChannel> checkChannels(const Site &site);

// A digital input passes by itself once both states have been seen; each change is kept.
struct InputWatch {
    struct Change { qint64 wallMs; bool on; };
    std::optional<bool> last;
    QVector<Change> changes; // the first state heard counts as a change
    void heard(bool on, qint64 wallMs);
    bool passed() const;
};

// An analog point passes when the value stays within target ± tolerance for one second (1000 ms
// from the first reading inside to a reading still inside); a reading outside starts it again.
constexpr qint64 kPointHoldMs = 1000;
struct PointWatch {
    CheckPoint point;
    qint64 insideSince = -1;
    std::optional<double> last;
    QVector<double> seen; // the readings while it was inside (the values kept with the verdict)
    bool passed = false;
    void heard(std::optional<double> value, qint64 wallMs);
};

// One decided result: a journal line.
struct CheckRecord {
    qint64 wallMs = 0;
    int address = 0;   // the module's address and model: the channel's module in the journal
    QString model;
    QString channel;
    CheckKind kind = CheckKind::Input;
    QString tag;
    Verdict verdict = Verdict::Pass;
    QString values;    // what was seen or measured, as the report shows it
    QString comment;
    QString reason;    // why a channel was not tested
    int utcOffsetS = 0; // read back: the recording clock's offset from UTC (a report shows its times)
};

// A journal read back: its head (the site as it was at the start, who and when) and the results
// in the order they were decided; where a channel was decided twice the later one holds.
struct CheckJournal {
    Site site;
    QString sitePath;
    QString technician;
    qint64 startedMs = 0;
    QString toolVersion;
    QVector<CheckRecord> records;
    QString warning; // "line 14 is damaged and was skipped (cut off by a power cut?)"; empty when whole
    int utcOffsetS = 0; // read back: the clock's offset from UTC at the start

    // The result that holds for a channel, if any.
    const CheckRecord *result(int address, const QString &channel) const;
};

// NAME.checkout.jsonl beside the site file NAME.kvsite.
QString journalPath(const QString &sitePath);
// A new journal with its head line, flushed to the disk; false with why when it cannot be written.
bool startJournal(const QString &path, const CheckJournal &head, QString *error);
// Appends one result line and flushes it to the disk (fsync) before returning true.
bool appendResult(const QString &path, const CheckRecord &record, QString *error);
// The journal in the file, or nothing with why. A damaged line (a power cut leaves a last line cut
// off) is skipped and told in warning; every whole line before and after it is kept.
std::optional<CheckJournal> readJournal(const QString &path, QString *error);
