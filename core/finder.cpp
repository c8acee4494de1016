#include "finder.h"

#include "linesettings.h"

#include <algorithm>

namespace {
constexpr int kRequestLength = 8;

QString settingText(int code)
{
    return isCode(code) ? communicationParameterText(code) : QStringLiteral("code %1").arg(code);
}

// Two settings a line without parity cannot tell apart: the same baud rate, another parity.
bool onlyParityDiffers(int a, int b)
{
    return a != b && a != 0 && b != 0 && baudForCode(a) == baudForCode(b);
}

// What came from a gateway as the RTU frames the rules below read: each whole MBAP frame its
// unit's frame with a CRC; a frame whose header is not Modbus's dropped, and a gateway's own
// exception (0x0A path unavailable, 0x0B no answer), since it says nobody is there (nobody: so
// it said of unit); bytes that make no whole frame (yet) say nothing.
QByteArray unitFramesOf(QByteArray wire, int unit, bool &nobody)
{
    QByteArray rtu;
    for (int n; (n = mbapFrameLength(wire)) > 0 && wire.size() >= n; wire.remove(0, n)) {
        const QByteArray frame = mbapToRtu(wire.left(n)); // empty for a header that is not Modbus's
        const bool gatewaySays = frame.size() == 5 && (std::uint8_t(frame[1]) & 0x80) && (frame[2] == 0x0A || frame[2] == 0x0B);
        if (!gatewaySays)
            rtu += frame;
        nobody = nobody || (gatewaySays && std::uint8_t(frame[0]) == unit);
    }
    return rtu;
}
} // namespace

QString sweepNote(const FinderOptions &options)
{
    return options.gateway() ? QStringLiteral("Behind a Modbus TCP gateway there are no line settings to try: "
                                              "the unit ids are asked once.")
                             : QString();
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
    return lineTimeUs(codeSettings(code == 0 ? 5 : code), bytes);
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
    const qint64 start = m_options.timeoutMs > 0
                             ? qint64(m_options.timeoutMs) * 1000
                             : lineTimeUs(code, kRequestLength + kParameterReplyLength) + qint64(m_options.turnaroundMs) * 1000;
    return qMax(start, 2 * m_slowestUs.value(code));
}

BusFinder::Next BusFinder::start(qint64 nowUs)
{
    *this = BusFinder(m_options);
    m_started = true;
    if (m_options.gateway()) {
        m_phase = Phase::Sweep;
        m_heard = {0};
    }
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
    const Next next{.kind = Next::Open, .code = code()};
    m_address = m_options.from;
    m_asked.clear();
    m_reasked.clear();
    m_previous = 0;
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
    return send(parameterReadRequest(m_phase == Phase::Broadcast ? 0 : std::uint8_t(m_address)), nowUs);
}

int BusFinder::code() const
{
    return m_phase == Phase::Broadcast ? settings()[m_settingIndex] : m_heard[m_settingIndex];
}

BusFinder::Next BusFinder::send(const QByteArray &frame, qint64 nowUs, bool again)
{
    const int address = std::uint8_t(frame[0]);
    m_previous = m_request.isEmpty() || m_asked.isEmpty() ? 0 : std::uint8_t(m_request[0]);
    m_request = frame;
    m_sentAtUs = nowUs;
    ++m_sent;
    m_again += again ? 1 : 0;
    m_reasking = again;
    m_waitUs = timeoutUs(code()) * (again ? 4 : 1);
    m_received.clear();
    m_lastByteUs = -1;
    m_listening = false;
    if (m_phase == Phase::Sweep && address != 0)
        m_asked.insert(address, {nowUs, nowUs + m_waitUs});
    return {.kind = Next::Send, .code = code(), .frame = frame, .deadlineUs = nowUs + m_waitUs};
}

BusFinder::Next BusFinder::judged(const QByteArray &received, qint64 lastByteUs, qint64 nowUs)
{
    if (m_phase == Phase::Done || !m_started)
        return {};
    if (!m_listening)
        m_wire.clear();
    m_wire += received;
    bool nobody = false;
    m_received = m_options.gateway() ? unitFramesOf(m_wire, std::uint8_t(m_request[0]), nobody) : m_wire;
    if (lastByteUs >= 0 && !received.isEmpty())
        m_lastByteUs = lastByteUs;
    // A probe asked again hears out its whole wait, and so does one that heard only earlier
    // probes' replies so far; bytes that do not make a reply yet: listen on until none has come
    // for the time of one reply (its bytes and the turnaround), counted from the last one.
    const qint64 replyUs = m_waitUs - lineTimeUs(code(), int(m_request.size()));
    const bool ownHeard = m_received.size() > lateBytes(m_received);
    qint64 untilUs = m_reasking || !ownHeard ? m_sentAtUs + m_waitUs : -1;
    if (m_lastByteUs >= 0 && !parameterReplyComplete(m_received.mid(lateBytes(m_received))))
        untilUs = qMax(untilUs, m_lastByteUs + replyUs);
    // The gateway's word that nobody answers at the unit asked: nothing more to wait for.
    m_listening = untilUs > nowUs && !nobody;
    if (m_listening)
        return {.kind = Next::Listen, .code = code(), .deadlineUs = untilUs};
    return settle(m_received, m_lastByteUs, nowUs);
}

void BusFinder::heard(qint64 sentAtUs, qint64 lastByteUs, int bytes)
{
    // The module's response: from the request's end to the reply's start.
    const qint64 lineUs = m_options.repliesTakeLineTime ? lineTimeUs(code(), kRequestLength + qMin(bytes, kParameterReplyLength)) : 0;
    qint64 &slowest = m_slowestUs[code()];
    slowest = qMax(slowest, lastByteUs - sentAtUs - lineUs);
}

BusFinder::Next BusFinder::settle(QByteArray received, qint64 lastByteUs, qint64 nowUs)
{
    const int target = std::uint8_t(m_request[0]);
    if (target == 0) {
        // A whole reply ahead of more bytes is the broadcast before's, come late.
        received.remove(0, lateBytes(received));
        if (!received.isEmpty())
            heard(m_sentAtUs, lastByteUs, int(received.size()));
        const Heard heard = hearBroadcast(received);
        // Silence at a broadcast is asked once more, with four times the wait, before the setting is passed over.
        if (m_phase == Phase::Broadcast && heard == Heard::Nothing && !m_reasking)
            return send(parameterReadRequest(), nowUs, true);
        const ReplyVerdict v = judgeReply(received, m_request, kParameterReplyLength);
        const ModuleParameters found = v.accepted() ? moduleParameters(received) : ModuleParameters{};
        if (m_phase == Phase::Broadcast) {
            m_broadcast.append(heard);
            m_broadcastFound.append(found);
            if (heard != Heard::Nothing)
                m_heard.append(code());
        } else if (heard != Heard::Nothing) {
            // The broadcast asked again at the end of its sweep: what it hears now stands.
            const qsizetype i = settings().indexOf(code());
            m_broadcast[i] = heard;
            m_broadcastFound[i] = found;
        }
        ++m_settingIndex;
        return openNext(nowUs);
    }

    received = takeLateReplies(received, lastByteUs);
    if (!received.isEmpty())
        heard(m_sentAtUs, lastByteUs, int(received.size()));
    const std::optional<FinderRow> row = judgeProbe(received, lastByteUs);
    // Asked again: what it says now ends the doubt; silence leaves the doubt as it was.
    std::optional<FinderRow> doubt;
    for (qsizetype i = 0; m_reasking && i < m_doubts.size(); ++i)
        if (m_doubts[i].address == target)
            doubt = m_doubts.takeAt(i);
    if (row)
        consider(*row);
    if (doubt && !(row && row->address == target))
        add(*doubt);
    return nextProbe(nowUs);
}

int BusFinder::lateItem(const QByteArray &received) const
{
    // An echo of a probe (the in-process line's echo comes with its late reply).
    if (received.size() >= kRequestLength && received.left(kRequestLength) == parameterReadRequest(std::uint8_t(received[0])))
        return kRequestLength;
    if (received.size() < kParameterReplyLength)
        return 0;
    const QByteArray frame = received.left(kParameterReplyLength);
    const int target = std::uint8_t(m_request[0]);
    if (target == 0)
        return received.size() > kParameterReplyLength && judgeReply(frame, m_request, kParameterReplyLength).accepted() ? kParameterReplyLength : 0;
    return std::uint8_t(frame[0]) != target && crcOk(frame) && frame[1] == 0x03 && frame[2] == 0x06 ? kParameterReplyLength : 0;
}

int BusFinder::lateBytes(const QByteArray &received) const
{
    int n = 0;
    for (int item = 0; (item = lateItem(received.mid(n))) > 0;)
        n += item;
    return n;
}

QByteArray BusFinder::takeLateReplies(QByteArray received, qint64 lastByteUs)
{
    for (int item = 0; (item = lateItem(received)) > 0;) {
        if (item != kParameterReplyLength) {
            received.remove(0, item);
            continue;
        }
        const QByteArray frame = received.left(kParameterReplyLength);
        const int from = std::uint8_t(frame[0]);
        received.remove(0, kParameterReplyLength);
        // The broadcast's (address 0) says nothing new; an address not asked at this setting, nothing.
        if (!m_asked.contains(from))
            continue;
        const Asked asked = m_asked.value(from);
        heard(asked.sentUs, lastByteUs, kParameterReplyLength);
        bool shown = false;
        for (const FinderRow &r : std::as_const(m_rows))
            shown = shown || (r.kind == FinderRow::Module && r.address == from && r.heardCode == code());
        if (shown)
            continue;
        const ModuleParameters p = moduleParameters(frame);
        // How late: exact when nothing came after it, else no later than the last byte.
        const QString late = QString::number(double(lastByteUs - asked.deadlineUs) / 1000.0, 'f', 1);
        consider({.address = from, .code = p.code, .model = p.model, .heardCode = code(),
                  .responseMs = double(lastByteUs - asked.sentUs) / 1000.0,
                  .note = received.isEmpty() ? QStringLiteral("answered %1 ms after its time-out").arg(late)
                                             : QStringLiteral("answered after its time-out (by %1 ms at most)").arg(late),
                  .late = true});
    }
    return received;
}

void BusFinder::consider(const FinderRow &row)
{
    const bool doubtful = row.kind == FinderRow::SharedAddress || row.late;
    if (!doubtful || m_reasked.contains(row.address)) {
        add(row);
        return;
    }
    for (FinderRow &d : m_doubts)
        if (d.address == row.address) {
            d = row;
            return;
        }
    m_doubts.append(row);
}

BusFinder::Next BusFinder::nextProbe(qint64 nowUs)
{
    // A doubtful row is asked again, with four times the wait, before it is reported (an address
    // asked again already is reported at once: see consider).
    if (!m_doubts.isEmpty()) {
        const int address = m_doubts.first().address;
        m_reasked.append(address);
        return send(parameterReadRequest(std::uint8_t(address)), nowUs, true);
    }
    if (m_address < m_options.to) {
        ++m_address;
        return send(parameterReadRequest(std::uint8_t(m_address)), nowUs);
    }
    // Bytes at this setting's broadcast that the modules found do not explain: asked again too.
    const qsizetype i = settings().indexOf(code());
    if (m_broadcast.value(i) == Heard::Garbled && m_foundAt.value(code()) < 2 && !m_reasked.contains(0)) {
        m_reasked.append(0);
        return send(parameterReadRequest(), nowUs, true);
    }
    ++m_settingIndex;
    return openNext(nowUs);
}

std::optional<FinderRow> BusFinder::judgeProbe(const QByteArray &received, qint64 lastByteUs) const
{
    const int code = this->code();
    const ReplyVerdict v = judgeReply(received, m_request, kParameterReplyLength);
    FinderRow row;
    row.address = std::uint8_t(m_request[0]);
    row.heardCode = code;
    row.responseMs = lastByteUs >= 0 ? double(lastByteUs - m_sentAtUs) / 1000.0 : -1;
    // Bytes all in before the request and a reply could have crossed the line belong to the probe
    // before, come after its time-out (a device server's line speed is not known: no such rule).
    const bool early = m_options.repliesTakeLineTime && code != 0 && lastByteUs >= 0 && !received.isEmpty()
                       && lastByteUs - m_sentAtUs < lineTimeUs(code, int(m_request.size() + received.size())) * 8 / 10;
    if (early && !v.accepted() && v.refusal != Refusal::Exception) {
        if (m_previous < 1)
            return std::nullopt; // the broadcast's
        row.kind = FinderRow::SharedAddress;
        row.address = m_previous;
        row.responseMs = -1;
        row.late = true;
        row.note = QStringLiteral("shared address? (the replies came after the time-out)");
        return row;
    }
    if (v.accepted()) {
        const ModuleParameters p = moduleParameters(received);
        row.code = p.code;
        row.model = p.model;
        if (code != 0 && p.code != code)
            row.note = QStringLiteral("answers at this setting but its code says another (%1)").arg(settingText(p.code));
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
    if (row.isModule())
        m_foundAt[row.heardCode] += row.kind == FinderRow::SharedAddress ? 2 : 1;
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

void BusFinder::stop()
{
    // What was found stays, doubts included, as they stand.
    while (m_phase != Phase::Done && !m_doubts.isEmpty())
        add(m_doubts.takeFirst());
    m_phase = Phase::Done;
}

void BusFinder::finish()
{
    if (m_phase == Phase::Done)
        return;
    while (!m_doubts.isEmpty())
        add(m_doubts.takeFirst());
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
    return m_fault || std::any_of(m_rows.begin(), m_rows.end(), [](const FinderRow &r) { return r.kind == FinderRow::SharedAddress; });
}

int BusFinder::modulesFound() const
{
    return int(std::count_if(m_rows.begin(), m_rows.end(), [](const FinderRow &r) { return r.isModule(); }));
}

int BusFinder::probesPlanned() const
{
    const qsizetype broadcasts = m_options.gateway() ? 0 : settings().size();
    return int(broadcasts + m_heard.size() * (m_options.to - m_options.from + 1)) + m_again;
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
