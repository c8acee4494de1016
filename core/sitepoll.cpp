#include "sitepoll.h"

#include "conversions.h"
#include "cycle.h"
#include "decoders.h"
#include "linesettings.h"
#include "models.h"

namespace {

const ModelRow &modelOf(const SiteModule &m)
{
    static const ModelRow none;
    const ModelRow *row = findModel(m.model);
    return row ? *row : none;
}

bool analogOutput(const ModelRow &row) { return row.kind == PanelKind::AnalogOutput; }
bool hasOutputs(const ModelRow &row) { return row.outputs() > 0 || analogOutput(row); }

// A reply later than the line time of both frames plus what a module and an adapter may take.
constexpr int kLateAfterMs = 20;

} // namespace

QString healthText(SiteHealth health)
{
    switch (health) {
    case SiteHealth::Ok: return QStringLiteral("OK");
    case SiteHealth::Late: return QStringLiteral("late");
    case SiteHealth::NoReply: return QStringLiteral("no reply");
    case SiteHealth::Errors: return QStringLiteral("errors");
    case SiteHealth::Unknown: break;
    }
    return QString();
}

SitePoll::SitePoll(Site site) : m_site(std::move(site))
{
    for (const SiteModule &m : std::as_const(m_site.modules)) {
        SiteModuleState s;
        const ModelRow &row = modelOf(m);
        s.outputs = s.wanted = QList<bool>(row.outputs(), false);
        s.reads.resize(modelReads(row).size());
        m_states.append(s);
    }
}

SiteRequest SitePoll::request(int module, SiteRequest::Kind kind, QByteArray frame, int read) const
{
    return {kind, module, m_gateway ? m_site.code : m_site.modules[module].code, std::move(frame), read};
}

// The module's request at its step of this round, or nothing when its round is over.
std::optional<SiteRequest> SitePoll::step(int module) const
{
    const SiteModuleState &s = m_states[module];
    const auto address = std::uint8_t(m_site.modules[module].address);
    if (s.check != SiteModuleState::Check::Matches)
        return m_step == 0 ? std::optional(request(module, SiteRequest::Parameters, parameterReadRequest(address))) : std::nullopt;
    const ModelRow &row = modelOf(m_site.modules[module]);
    const QVector<AcquisitionCycle::Read> reads = modelReads(row);
    if (m_step < reads.size())
        return request(module, SiteRequest::Read, readRequest(address, reads[m_step].function, reads[m_step].start, reads[m_step].count), m_step);
    // The outputs change only when written (or by another master, or a module's restart): read
    // back after a write and every kReadBackRounds rounds, so a round stays short and an input's
    // change is seen sooner; every round where that is all the module has to read.
    const bool readBack = hasOutputs(row) && s.readBack
                          && (reads.isEmpty() || s.readBackDue || (m_round + module) % kReadBackRounds == 0);
    // A module with nothing else to read has its parameters read, so its health stays current.
    if (reads.isEmpty() && !readBack && m_step == 0)
        return request(module, SiteRequest::Parameters, parameterReadRequest(address));
    if (m_step > reads.size() || !readBack)
        return std::nullopt;
    return request(module, SiteRequest::ReadBack, analogOutput(row) ? readRequest(address, 0x03, 0, 1)
                                                                    : readRequest(address, 0x01, 0, std::uint16_t(row.outputs())));
}

void SitePoll::advance()
{
    m_step = 0;
    if (++m_module >= modules()) {
        m_module = 0;
        ++m_round;
    }
}

// Puts the cursor on the next module due with a step to make, passing the rounds where none is.
void SitePoll::settle()
{
    // Each module is due at least every kSiteBackOffRounds rounds, so this ends.
    for (int passes = 0; modules() > 0 && passes <= modules() * (kSiteBackOffRounds + 1); ++passes) {
        if ((m_step > 0 || m_states[m_module].dueRound <= m_round) && step(m_module))
            return;
        advance();
    }
}

SiteRequest SitePoll::next()
{
    while (!m_writes.isEmpty()) {
        const int k = m_writes.takeFirst();
        const SiteModuleState &s = m_states[k];
        const auto address = std::uint8_t(m_site.modules[k].address);
        if (s.wanted != s.outputs)
            return m_out = request(k, SiteRequest::Write, writeCoilsRequest(address, s.wanted));
        if (s.analogWanted && s.analogWanted != s.analogOutput)
            return m_out = request(k, SiteRequest::Write, writeRegisterRequest(address, 0, *s.analogWanted));
    }
    settle();
    const std::optional<SiteRequest> r = modules() > 0 ? step(m_module) : std::nullopt;
    return m_out = r.value_or(SiteRequest{});
}

void SitePoll::tally(SiteModuleState &s, const Exchange &judged, double responseMs)
{
    s.lastVerdict = judged.verdict;
    if (judged.verdict.refusal == Refusal::NoReply) {
        ++s.noReply;
        s.health = SiteHealth::NoReply;
        return;
    }
    s.lastMs = responseMs;
    s.totalMs += qMax(0.0, responseMs);
    const LineSettings line = codeSettings(m_out.code);
    const double lateMs = double(lineTimeUs(line, int(judged.request.size()) + judged.replyLength)) / 1000 + kLateAfterMs;
    if (!judged.accepted()) {
        ++s.errors;
        s.health = SiteHealth::Errors;
    } else if (responseMs > lateMs) {
        ++s.late;
        s.health = SiteHealth::Late;
    } else {
        ++s.ok;
        s.health = SiteHealth::Ok;
    }
}

void SitePoll::heard(const Exchange &judged, double responseMs, qint64 wallMs)
{
    const SiteRequest r = m_out;
    if (r.kind == SiteRequest::None)
        return;
    SiteModuleState &s = m_states[r.module];
    tally(s, judged, responseMs);
    took(r.module, r, judged, wallMs);
    if (r.kind == SiteRequest::Write)
        return;
    // A silent module is left for twice as many rounds each time, up to the longest; one that
    // answers anything is asked every round.
    const bool silent = judged.verdict.refusal == Refusal::NoReply;
    s.every = silent ? qMin(s.every * 2, kSiteBackOffRounds) : 1;
    s.dueRound = m_round + s.every;
    // The parameter read is a round's only request to its module.
    if (silent || r.kind == SiteRequest::Parameters)
        advance();
    else
        ++m_step;
    settle();
}

// What a write carried is the module's (a set asked for while it was under way is written next);
// a write refused leaves the outputs shown as they are.
void SitePoll::wrote(SiteModuleState &s, const QByteArray &frame, bool accepted)
{
    s.readBackDue = true;
    const bool coils = frame[1] == 0x0F;
    if (coils && accepted)
        s.outputs = unpackBits(frame, 7, int(s.outputs.size()));
    else if (coils)
        s.wanted = s.outputs;
    else if (accepted)
        s.analogOutput = wordAt(frame, 4);
    else
        s.analogWanted = s.analogOutput;
}

void SitePoll::took(int module, const SiteRequest &r, const Exchange &judged, qint64 wallMs)
{
    SiteModuleState &s = m_states[module];
    const SiteModule &m = m_site.modules[module];
    const ModelRow &row = modelOf(m);
    if (r.kind == SiteRequest::Write)
        return wrote(s, r.frame, judged.accepted());
    if (r.kind == SiteRequest::ReadBack && judged.verdict.refusal == Refusal::Exception && judged.verdict.exceptionCode == 1)
        s.readBack = false;
    if (r.kind == SiteRequest::ReadBack && judged.accepted())
        s.readBackDue = false;
    if (!judged.accepted())
        return;
    if (r.kind == SiteRequest::Parameters) {
        const ModuleParameters p = moduleParameters(judged.reply);
        s.heardModel = p.model;
        s.heardCode = p.code;
        s.check = p.model == modelNumber(m.model) ? SiteModuleState::Check::Matches : SiteModuleState::Check::OtherModel;
    } else if (r.kind == SiteRequest::Read) {
        s.reads[r.read] = valueRows(row, modelReads(row)[r.read], judged.reply, m.address, wallMs, m.model);
        tagged(module, s.reads[r.read]);
    } else if (analogOutput(row)) {
        const std::uint16_t v = wordAt(judged.reply, 3);
        if (!m_writes.contains(module))
            s.analogWanted = v;
        s.analogOutput = v;
        ValueRow out{wallMs, m.model, m.address, QStringLiteral("AO"), v / 1000.0, QStringLiteral("mA"), v,
                     outputCurrentText(v) + QStringLiteral("mA"), false, QString()};
        s.readBackRows = {out};
        tagged(module, s.readBackRows);
    } else {
        s.outputs = unpackBits(judged.reply, 3, row.outputs());
        if (!m_writes.contains(module))
            s.wanted = s.outputs;
        s.readBackRows.clear();
        for (int i = 0; i < row.outputs(); ++i)
            s.readBackRows.append({wallMs, m.model, m.address, row.outputCaptions[i].trimmed(), s.outputs[i] ? 1.0 : 0.0,
                                   QString(), std::uint16_t(s.outputs[i]), s.outputs[i] ? QStringLiteral("ON") : QStringLiteral("OFF"), true, QString()});
        tagged(module, s.readBackRows);
    }
}

void SitePoll::tagged(int module, QVector<ValueRow> &rows) const
{
    for (ValueRow &row : rows)
        row.tag = m_site.modules[module].channelTags.value(row.channel);
}

void SitePoll::retag(int module, const QString &channel, const QString &tag)
{
    SiteModule &m = m_site.modules[module];
    (channel.isEmpty() ? m.tag : m.channelTags[channel]) = tag;
    SiteModuleState &s = m_states[module];
    for (QVector<ValueRow> &rows : s.reads)
        tagged(module, rows);
    tagged(module, s.readBackRows);
}

bool SitePoll::setOutput(int module, int output, bool on)
{
    SiteModuleState &s = m_states[module];
    if (s.check != SiteModuleState::Check::Matches || output < 1 || output > s.wanted.size())
        return false;
    s.wanted[output - 1] = on;
    if (!m_writes.contains(module))
        m_writes.append(module);
    return true;
}

bool SitePoll::setAnalogOutput(int module, std::uint16_t microamps)
{
    SiteModuleState &s = m_states[module];
    if (s.check != SiteModuleState::Check::Matches || !analogOutput(modelOf(m_site.modules[module])) || microamps > kOutputFullScale)
        return false;
    s.analogWanted = microamps;
    if (!m_writes.contains(module))
        m_writes.append(module);
    return true;
}

bool SitePoll::offLineSetting(int module) const
{
    if (m_gateway)
        return false;
    const int code = m_states[module].heardCode ? m_states[module].heardCode : m_site.modules[module].code;
    return code != m_site.code;
}

QStringList SitePoll::notes(int module) const
{
    const SiteModuleState &s = m_states[module];
    const SiteModule &m = m_site.modules[module];
    QStringList notes;
    if (s.check == SiteModuleState::Check::OtherModel)
        notes << QStringLiteral("%1 answers at address %2, the site says %3").arg(modelName(s.heardModel)).arg(m.address).arg(m.model);
    if (offLineSetting(module)) {
        const int code = s.heardCode ? s.heardCode : m.code;
        notes << QStringLiteral("at code %1 (%2), not the line's code %3 (%4)")
                     .arg(code).arg(communicationParameterText(code)).arg(m_site.code).arg(communicationParameterText(m_site.code));
    }
    if (!s.readBack)
        notes << QStringLiteral("no read-back");
    return notes;
}

OneModuleWrite SitePoll::moveToLine(int module) const
{
    return OneModuleWrite::comm(std::uint8_t(m_site.modules[module].address), m_site.code);
}

void SitePoll::moved(int module)
{
    m_site.modules[module].code = m_site.code;
    SiteModuleState &s = m_states[module];
    s.check = SiteModuleState::Check::Unread;
    s.heardCode = 0;
    s.dueRound = m_round;
}

QVector<ValueRow> SitePoll::values(int module) const
{
    const SiteModuleState &s = m_states[module];
    QVector<ValueRow> rows;
    if (s.check != SiteModuleState::Check::Matches)
        return rows;
    for (const QVector<ValueRow> &read : s.reads)
        rows += read;
    return rows + s.readBackRows;
}

int siteTimeoutMs(const QByteArray &request, int code)
{
    const qint64 us = lineTimeUs(codeSettings(code), 2 * int(request.size()) + expectedReplyLength(request));
    return int((us + 999) / 1000) + 50;
}

const QString kSiteCsvHeader = kValueCsvHeader + QStringLiteral(",module_tag,channel_tag");

QString siteCsvLine(const ValueRow &row, const QString &moduleTag)
{
    return valueCsvLine(row) + QLatin1Char(',') + csvField(moduleTag) + QLatin1Char(',') + csvField(row.tag);
}

Site siteOfFound(const QVector<FinderRow> &rows, const QString &name, const QString &port)
{
    Site site{name, port, 2, {}, {}};
    QMap<int, int> count; // modules by code, in code order
    for (const FinderRow &row : rows) {
        const int code = row.code;
        if (row.kind != FinderRow::Module || !isCode(code) || !findModel(modelName(row.model)))
            continue;
        site.modules.append({row.address, modelName(row.model), code, QString(), {}, {}});
        ++count[code];
    }
    std::stable_sort(site.modules.begin(), site.modules.end(), [](const SiteModule &a, const SiteModule &b) { return a.address < b.address; });
    for (auto it = count.begin(); it != count.end(); ++it)
        if (it.value() > count.value(site.code))
            site.code = it.key();
    return site;
}
