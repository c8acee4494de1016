#include "finder.h"

#include "linesettings.h"

#include <cmath>

namespace {
constexpr std::uint16_t kParameterRegister = 100; // address; 101 code, 102 model follow
constexpr int kParameterReplyLength = 11;
constexpr int kRequestLength = 8;

QString settingText(int code)
{
    return code >= 1 && code <= 8 ? communicationParameterTexts()[code - 1] : QStringLiteral("code %1").arg(code);
}

// Two settings a line without parity cannot tell apart: the same baud rate, another parity.
bool onlyParityDiffers(int a, int b)
{
    return a != b && a != 0 && b != 0 && baudForCode(a) == baudForCode(b);
}
} // namespace

QByteArray parameterReadTo(std::uint8_t address)
{
    return readRequest(address, 0x03, kParameterRegister, 3);
}

QByteArray addressWriteTo(std::uint8_t module, std::uint8_t newAddress)
{
    return writeRegisterRequest(module, kParameterRegister, newAddress);
}

Heard hearBroadcast(const QByteArray &received)
{
    if (received.isEmpty())
        return Heard::Nothing;
    // An exception frame that passes its check is one module too: two would not add up to one.
    const ReplyVerdict v = judgeReply(received, parameterReadRequest(), kParameterReplyLength);
    return v.accepted() || v.refusal == Refusal::Exception ? Heard::OneModule : Heard::Garbled;
}

qint64 lineTimeUs(int code, int bytes)
{
    const int baud = code == 0 ? 4800 : baudForCode(code);
    const int bits = 10 + (code == 0 || parityForCode(code) == 'E' ? 1 : 0);
    if (baud <= 0)
        return 0;
    return qint64(std::ceil(double(bytes) * bits * 1e6 / baud));
}

bool parameterReplyComplete(const QByteArray &received)
{
    if (received.size() >= kParameterReplyLength)
        return true;
    return received.size() == 5 && (std::uint8_t(received[1]) & 0x80) && crcOk(received);
}

int FinderRow::baud() const
{
    return baudForCode(heardCode != 0 ? heardCode : code);
}

char FinderRow::parity() const
{
    return parityForCode(heardCode != 0 ? heardCode : code);
}

BusFinder::BusFinder(FinderOptions options) : m_options(std::move(options))
{
    m_options.from = qBound(0, m_options.from, 255);
    m_options.to = qBound(m_options.from, m_options.to, 255);
}

QList<int> BusFinder::settings() const
{
    return m_options.lineCarriesSettings ? m_options.codes : QList<int>{0};
}

qint64 BusFinder::timeoutUs(int code) const
{
    if (m_options.timeoutMs > 0)
        return qint64(m_options.timeoutMs) * 1000;
    return lineTimeUs(code, kRequestLength + kParameterReplyLength) + qint64(m_options.turnaroundMs) * 1000;
}

Heard BusFinder::heardAt(int code) const
{
    const qsizetype i = settings().indexOf(code);
    return i >= 0 && i < m_broadcast.size() ? m_broadcast[i] : Heard::Nothing;
}

BusFinder::Next BusFinder::start(qint64 nowUs)
{
    *this = BusFinder(m_options);
    m_started = true;
    return openNext(nowUs);
}

BusFinder::Next BusFinder::openNext(qint64)
{
    if (m_phase == Phase::Broadcast && m_settingIndex >= settings().size()) {
        m_phase = Phase::Sweep;
        m_settingIndex = 0;
    }
    if (m_phase == Phase::Sweep && m_settingIndex >= m_heard.size())
        finish();
    if (m_phase == Phase::Done)
        return {};
    Next next;
    next.kind = Next::Open;
    next.code = m_phase == Phase::Broadcast ? settings()[m_settingIndex] : m_heard[m_settingIndex];
    m_address = m_options.from;
    return next;
}

BusFinder::Next BusFinder::opened(bool ok, qint64 nowUs)
{
    if (m_phase == Phase::Done)
        return {};
    if (!ok) {
        finish();
        return {};
    }
    if (m_phase == Phase::Broadcast)
        return send(parameterReadRequest(), nowUs);
    return send(parameterReadTo(std::uint8_t(m_address)), nowUs);
}

BusFinder::Next BusFinder::send(const QByteArray &frame, qint64 nowUs)
{
    m_request = frame;
    m_sentAtUs = nowUs;
    ++m_sent;
    const int code = m_phase == Phase::Broadcast ? settings()[m_settingIndex] : m_heard[m_settingIndex];
    Next next;
    next.kind = Next::Send;
    next.code = code;
    next.frame = frame;
    next.deadlineUs = nowUs + timeoutUs(code);
    return next;
}

BusFinder::Next BusFinder::judged(const QByteArray &received, qint64 lastByteUs, qint64 nowUs)
{
    if (m_phase == Phase::Broadcast) {
        const int code = settings()[m_settingIndex];
        const Heard heard = hearBroadcast(received);
        m_broadcast.append(heard);
        const ReplyVerdict v = judgeReply(received, m_request, kParameterReplyLength);
        m_broadcastFound.append(v.accepted() ? moduleParameters(received) : ModuleParameters{});
        if (heard != Heard::Nothing)
            m_heard.append(code);
        ++m_settingIndex;
        return openNext(nowUs);
    }
    if (m_phase != Phase::Sweep)
        return {};

    const int code = m_heard[m_settingIndex];
    if (const std::optional<FinderRow> row = judgeProbe(received, lastByteUs)) {
        add(*row);
        m_foundAt[code] += row->kind == FinderRow::SharedAddress ? 2 : 1;
    }
    if (++m_address <= m_options.to)
        return send(parameterReadTo(std::uint8_t(m_address)), nowUs);
    ++m_settingIndex;
    return openNext(nowUs);
}

std::optional<FinderRow> BusFinder::judgeProbe(const QByteArray &received, qint64 lastByteUs) const
{
    const int code = m_heard[m_settingIndex];
    const ReplyVerdict v = judgeReply(received, m_request, kParameterReplyLength);
    FinderRow row;
    row.address = m_address;
    row.heardCode = code;
    row.responseMs = lastByteUs >= 0 ? double(lastByteUs - m_sentAtUs) / 1000.0 : -1;
    const bool wholeReply = received.size() == kParameterReplyLength && crcOk(received) && std::uint8_t(received[1]) == 0x03;
    // Bytes all in before the request and a reply could have crossed the line belong to the probe
    // before, come after its time-out (a device server's line speed is not known: no such rule).
    const bool early = m_options.repliesTakeLineTime && code != 0 && lastByteUs >= 0
                       && lastByteUs - m_sentAtUs < lineTimeUs(code, int(m_request.size() + received.size())) * 8 / 10;
    if (early && !v.accepted() && v.refusal != Refusal::Exception && !wholeReply) {
        if (m_address <= m_options.from)
            return std::nullopt; // the broadcast's
        row.kind = FinderRow::SharedAddress;
        row.address = m_address - 1;
        row.responseMs = -1;
        row.note = QStringLiteral("shared address? (the replies came after the time-out)");
        return row;
    }
    if (v.accepted() || (v.refusal == Refusal::OtherAddress && wholeReply)) {
        const ModuleParameters p = moduleParameters(received);
        row.code = p.code;
        row.model = p.model;
        if (!v.accepted()) {
            // A whole reply from another address is the one before's, come after its time-out
            // (the broadcast's, from address 0, says nothing new).
            if (received[0] == 0)
                return std::nullopt;
            row.address = std::uint8_t(received[0]);
            row.responseMs = -1;
            row.note = QStringLiteral("answered after its time-out: give it a longer turnaround");
        } else if (code != 0 && p.code != code) {
            row.note = QStringLiteral("answers at this setting but its code says another (%1)").arg(settingText(p.code));
        }
        return row;
    }
    if (v.refusal == Refusal::NoReply)
        return std::nullopt;
    if (v.refusal == Refusal::Exception) {
        row.kind = FinderRow::Exception;
        row.note = QStringLiteral("exception %1").arg(v.exceptionCode);
    } else {
        // Two replies on the line at once never pass the check: the address is taken twice.
        row.kind = FinderRow::SharedAddress;
        row.note = QStringLiteral("shared address?");
    }
    return row;
}

void BusFinder::add(FinderRow row)
{
    // A line that does not carry parity (a pseudo-terminal, some adapters) lets a module answer at
    // both parities of its baud rate: one module, one row, at the setting its code names.
    for (FinderRow &r : m_rows) {
        if (r.kind != row.kind || r.address != row.address || r.model != row.model || r.code != row.code
            || !onlyParityDiffers(r.heardCode, row.heardCode))
            continue;
        if (row.kind != FinderRow::Module) {
            r.note += QStringLiteral(" (also at %1)").arg(settingText(row.heardCode));
            return;
        }
        const int other = row.heardCode == row.code ? r.heardCode : row.heardCode;
        if (row.heardCode == row.code) {
            r.heardCode = row.heardCode;
            r.responseMs = row.responseMs;
        }
        r.note = QStringLiteral("answers at %1 too; its code says %2").arg(settingText(other), settingText(r.code));
        return;
    }
    m_rows.append(row);
}

void BusFinder::finish()
{
    if (m_phase == Phase::Done)
        return;
    const bool complete = m_phase == Phase::Sweep && m_settingIndex >= m_heard.size();
    m_phase = Phase::Done;
    if (!complete)
        return;
    const QList<int> swept = settings();
    for (int i = 0; i < m_broadcast.size(); ++i) {
        const int code = swept[i];
        const int found = m_foundAt.value(code);
        FinderRow note;
        note.kind = FinderRow::SettingNote;
        note.heardCode = code;
        const QString range = QStringLiteral("addresses %1 to %2").arg(m_options.from).arg(m_options.to);
        if (m_broadcast[i] == Heard::Garbled && found < 2) {
            note.note = found == 0 ? QStringLiteral("several modules or noise at the broadcast, but none answered at %1").arg(range)
                                   : QStringLiteral("several modules or noise at the broadcast, but one answered at %1").arg(range);
            m_fault = true;
        } else if (m_broadcast[i] == Heard::OneModule && found == 0) {
            const ModuleParameters p = m_broadcastFound[i];
            note.note = QStringLiteral("a module answers the broadcast (address %1) but none answered at %2")
                            .arg(p.address).arg(range);
        } else {
            continue;
        }
        m_rows.append(note);
    }
}

bool BusFinder::faultFound() const
{
    if (m_fault)
        return true;
    for (const FinderRow &r : m_rows)
        if (r.kind == FinderRow::SharedAddress)
            return true;
    return false;
}

int BusFinder::modulesFound() const
{
    int n = 0;
    for (const FinderRow &r : m_rows)
        n += r.isModule() ? 1 : 0;
    return n;
}

int BusFinder::probesPlanned() const
{
    return int(settings().size() + m_heard.size() * (m_options.to - m_options.from + 1));
}

qint64 BusFinder::timeLeftUs() const
{
    if (m_phase == Phase::Done)
        return 0;
    const QList<int> swept = settings();
    const int range = m_options.to - m_options.from + 1;
    qint64 left = 0;
    if (m_phase == Phase::Broadcast)
        for (int i = m_settingIndex; i < swept.size(); ++i)
            left += timeoutUs(swept[i]);
    for (int i = m_phase == Phase::Sweep ? m_settingIndex : 0; i < m_heard.size(); ++i) {
        const int probes = m_phase == Phase::Sweep && i == m_settingIndex ? m_options.to - m_address + 1 : range;
        left += probes * timeoutUs(m_heard[i]);
    }
    return left;
}
