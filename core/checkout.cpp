#include "checkout.h"

#include "cycle.h"
#include "models.h"
#include "valuelog.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

// The format of a journal this version writes; a journal of a later one is refused.
static constexpr int kJournalFormat = 1;

QString checkKindText(CheckKind kind)
{
    switch (kind) {
    case CheckKind::Input: return QStringLiteral("digital input");
    case CheckKind::Output: return QStringLiteral("output");
    case CheckKind::AnalogInput: return QStringLiteral("analog input");
    case CheckKind::AnalogOutput: return QStringLiteral("analog output");
    }
    return {};
}

static std::optional<CheckKind> checkKindOf(const QString &text)
{
    for (CheckKind kind : {CheckKind::Input, CheckKind::Output, CheckKind::AnalogInput, CheckKind::AnalogOutput})
        if (checkKindText(kind) == text)
            return kind;
    return std::nullopt;
}

QString verdictText(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Untested: return {};
    case Verdict::Pass: return QStringLiteral("Pass");
    case Verdict::Fail: return QStringLiteral("Fail");
    case Verdict::NotTested: return QStringLiteral("Not tested");
    }
    return {};
}

std::optional<Verdict> verdictOf(const QString &text)
{
    for (Verdict v : {Verdict::Untested, Verdict::Pass, Verdict::Fail, Verdict::NotTested})
        if (verdictText(v) == text)
            return v;
    return std::nullopt;
}

// The default test points of an analog channel by its unit: none for a temperature.
static QVector<CheckPoint> defaultPoints(const QString &unit)
{
    if (unit == QLatin1String("mA"))
        return {{4, 0.1}, {12, 0.1}, {20, 0.1}};
    if (unit == QLatin1String("V"))
        return {{0, 0.05}, {5, 0.05}, {10, 0.05}};
    return {};
}

// The captions of the model's read by function (02 inputs, 03 analog registers), none without it.
static QStringList readCaptions(const ModelRow &row, std::uint8_t function)
{
    for (const AcquisitionCycle::Read &read : modelReads(row))
        if (read.function == function)
            return channelCaptions(row, read);
    return {};
}

QVector<CheckChannel> checkChannels(const Site &site)
{
    QVector<CheckChannel> channels;
    for (int m = 0; m < site.modules.size(); ++m) {
        const SiteModule &module = site.modules[m];
        const ModelRow *row = findModel(module.model);
        if (!row)
            continue;
        const auto add = [&](const QString &caption, CheckKind kind, const QString &unit, int index) {
            channels.append({m, caption, kind, module.channelTags.value(caption), unit, index, defaultPoints(unit)});
        };
        const QStringList inputs = readCaptions(*row, 0x02);
        for (int i = 0; i < inputs.size(); ++i)
            add(inputs[i], CheckKind::Input, QString(), i);
        for (int i = 0; i < row->outputs(); ++i)
            add(row->outputCaptions[i].trimmed(), CheckKind::Output, QString(), i);
        const QStringList analog = readCaptions(*row, 0x03);
        for (int i = 0; i < analog.size(); ++i)
            add(analog[i], CheckKind::AnalogInput, conversionUnit(row->conversion), i);
        if (row->kind == PanelKind::AnalogOutput)
            add(QStringLiteral("AO"), CheckKind::AnalogOutput, QStringLiteral("mA"), 0);
    }
    return channels;
}

void InputWatch::heard(bool on, qint64 wallMs)
{
    if (!last || *last != on)
        changes.append({wallMs, on});
    last = on;
}

bool InputWatch::passed() const
{
    bool seenOn = false, seenOff = false;
    for (const Change &c : changes)
        (c.on ? seenOn : seenOff) = true;
    return seenOn && seenOff;
}

void PointWatch::heard(std::optional<double> value, qint64 wallMs)
{
    last = value;
    if (passed)
        return;
    // A hair of slack, so that a value shown exactly at the tolerance's edge (20.1 of 20 ± 0.1)
    // is inside whatever the binary fractions make of it.
    if (!value || std::fabs(*value - point.target) > point.tolerance + 1e-9) {
        insideSince = -1;
        seen.clear();
        return;
    }
    if (insideSince < 0)
        insideSince = wallMs;
    seen.append(*value);
    passed = wallMs - insideSince >= kPointHoldMs;
}

const CheckRecord *CheckJournal::result(int address, const QString &channel) const
{
    for (auto r = records.crbegin(); r != records.crend(); ++r)
        if (r->address == address && r->channel == channel)
            return &*r;
    return nullptr;
}

QString journalPath(const QString &sitePath)
{
    QString path = sitePath;
    if (path.endsWith(QLatin1String(".kvsite")))
        path.chop(7);
    return path + QStringLiteral(".checkout.jsonl");
}

namespace {

// A time as written, with its offset from UTC.
std::optional<QDateTime> timeOf(const QJsonValue &v)
{
    const QDateTime t = QDateTime::fromString(v.toString(), Qt::ISODateWithMs);
    return t.isValid() ? std::optional(t) : std::nullopt;
}

QByteArray headLine(const CheckJournal &head)
{
    QJsonObject o;
    o.insert("format", kJournalFormat);
    o.insert("journal", "checkout");
    o.insert("site", QJsonDocument::fromJson(siteJson(head.site)).object());
    o.insert("sitePath", head.sitePath);
    o.insert("technician", head.technician);
    o.insert("started", isoLocalTime(head.startedMs));
    o.insert("toolVersion", head.toolVersion);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray recordLine(const CheckRecord &r)
{
    QJsonObject o;
    o.insert("time", isoLocalTime(r.wallMs));
    o.insert("address", r.address);
    o.insert("model", r.model);
    o.insert("channel", r.channel);
    o.insert("kind", checkKindText(r.kind));
    o.insert("tag", r.tag);
    o.insert("verdict", verdictText(r.verdict));
    const std::pair<const char *, QString> texts[] = {{"values", r.values}, {"comment", r.comment}, {"reason", r.reason}};
    for (const auto &[key, text] : texts)
        if (!text.isEmpty())
            o.insert(key, text);
    return QJsonDocument(o).toJson(QJsonDocument::Compact) + '\n';
}

// The record of a line, or nothing when the line is not a whole one.
std::optional<CheckRecord> recordOf(const QByteArray &line)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    const std::optional<QDateTime> time = timeOf(o.value("time"));
    const std::optional<CheckKind> kind = checkKindOf(o.value("kind").toString());
    const std::optional<Verdict> verdict = verdictOf(o.value("verdict").toString());
    if (!time || !kind || !verdict || !o.value("address").isDouble() || !o.value("channel").isString())
        return std::nullopt;
    return CheckRecord{time->toMSecsSinceEpoch(), o.value("address").toInt(), o.value("model").toString(),
                       o.value("channel").toString(), *kind, o.value("tag").toString(), *verdict, o.value("values").toString(),
                       o.value("comment").toString(), o.value("reason").toString(), time->offsetFromUtc()};
}

// The head of a journal into into, or why it is not one.
QString readHead(const QByteArray &line, CheckJournal &into)
{
    const QJsonObject o = QJsonDocument::fromJson(line).object();
    if (o.value("journal").toString() != QLatin1String("checkout") || !o.value("format").isDouble())
        return QStringLiteral("line 1 is not a checkout journal's head (damaged?)");
    if (o.value("format").toInt() > kJournalFormat)
        return QStringLiteral("the journal is of format %1, a later version's; this one reads format %2")
            .arg(o.value("format").toInt()).arg(kJournalFormat);
    QString why;
    const std::optional<Site> site = parseSite(QJsonDocument(o.value("site").toObject()).toJson(), &why);
    if (!site)
        return QStringLiteral("line 1: the site in the head: %1").arg(why);
    const std::optional<QDateTime> started = timeOf(o.value("started"));
    if (!started)
        return QStringLiteral("line 1: the head has no start time (damaged?)");
    into.site = *site;
    into.sitePath = o.value("sitePath").toString();
    into.technician = o.value("technician").toString();
    into.startedMs = started->toMSecsSinceEpoch();
    into.utcOffsetS = started->offsetFromUtc();
    into.toolVersion = o.value("toolVersion").toString();
    return {};
}

// Writes bytes at the end of the open file and puts them on the disk; false with why. What a
// failed write left of them is cut off again, so the file ends with a whole line.
bool writeDurably(QFile &file, const QByteArray &bytes, QString *error)
{
    const qint64 before = file.size();
    if (file.write(bytes) == bytes.size() && file.flush() && ::fsync(file.handle()) == 0)
        return true;
    const QString why = file.error() != QFileDevice::NoError ? file.errorString() : QString::fromLocal8Bit(strerror(errno));
    *error = QStringLiteral("%1: the result could not be written to the disk: %2").arg(file.fileName(), why);
    file.resize(before);
    return false;
}

} // namespace

bool startJournal(const QString &path, const CheckJournal &head, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1: %2").arg(path, file.exists() ? QStringLiteral("a journal is there already")
                                                                   : file.errorString());
        return false;
    }
    if (!writeDurably(file, headLine(head), error))
        return false;
    // The file's entry in its folder is on the disk too.
    const int folder = ::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(), O_RDONLY);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return true;
}

bool appendResult(const QString &path, const CheckRecord &record, QString *error)
{
    if (!QFileInfo::exists(path)) {
        *error = QStringLiteral("%1: the journal is gone (its folder removed or the disk taken away?)").arg(path);
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    // A last line cut off (a power cut) is ended first, so that this one stands on a line of its own.
    char last = '\n';
    const bool cut = !file.isSequential() && file.size() > 0 && file.seek(file.size() - 1) && file.getChar(&last) && last != '\n';
    return writeDurably(file, (cut ? QByteArray("\n") : QByteArray()) + recordLine(record), error);
}

std::optional<CheckJournal> readJournal(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = QStringLiteral("%1: %2").arg(path, file.exists() ? file.errorString() : QStringLiteral("no such file"));
        return std::nullopt;
    }
    const QList<QByteArray> lines = file.readAll().split('\n');
    CheckJournal journal;
    if (const QString why = readHead(lines.value(0), journal); !why.isEmpty()) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return std::nullopt;
    }
    QStringList damaged;
    for (int i = 1; i < lines.size(); ++i) {
        if (lines[i].trimmed().isEmpty())
            continue;
        if (std::optional<CheckRecord> r = recordOf(lines[i]))
            journal.records.append(*r);
        else
            damaged << QStringLiteral("line %1 is damaged and was skipped%2")
                           .arg(i + 1)
                           .arg(i + 1 == lines.size() ? QStringLiteral(" (cut off by a power cut?)") : QString());
    }
    journal.warning = damaged.join(QStringLiteral("; "));
    return journal;
}
