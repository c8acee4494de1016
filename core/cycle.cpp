#include "cycle.h"

#include "numtext.h"

const QString kAcquisitionCaption = QStringLiteral("Acquisition");
const QString kStopCaption = QStringLiteral("Stop");
const QString kOpenPortFirst = QStringLiteral("Please open serial port！");
const QString kAddressNotSelected = QStringLiteral("Module Address Not Selected！");
const QString kAnalogAddressNotSelected = QStringLiteral("Moudle address not selected！");
const QString kAddressRangeMessage = QStringLiteral("Module address must be a number from 0 to 255！");

CycleAction CycleAction::judged(const QByteArray &request, int replyLength, const QByteArray &received, bool echoKnown,
                                const Framing &framing)
{
    Exchange exchange(request, replyLength);
    exchange.echoKnown = echoKnown;
    exchange.framing = framing;
    exchange.judge(received);
    CycleAction a(Judged);
    a.verdict = exchange.verdict;
    a.echo = exchange.echo;
    a.reply = exchange.reply;
    a.echoKnown = exchange.echoKnown;
    return a;
}

BoxAddress addressFromBox(const QString &text, const QString &emptyMessage)
{
    BoxAddress address;
    address.number = addressFromText(text);
    if (!address.number)
        address.problem = text.isEmpty() ? emptyMessage : kAddressRangeMessage;
    return address;
}

AcquisitionCycle::AcquisitionCycle(QVector<Read> reads) : m_reads(std::move(reads)), m_running(m_reads.size(), false) {}

void MachineTimers::set(CycleActions &out, TimerRef timer, bool on)
{
    m_on[key(timer)] = on;
    CycleAction a(on ? CycleAction::Enable : CycleAction::Disable);
    a.timer = timer;
    out << a;
}

// Cycle's timer and state, and its button's caption: "Stop" while it runs.
void AcquisitionCycle::run(CycleActions &out, int cycle, bool on)
{
    m_timers.set(out, {TimerRef::Acquisition, cycle}, on);
    m_running[cycle] = on;
    CycleAction a(CycleAction::Caption, on ? kStopCaption : kAcquisitionCaption);
    a.cycle = cycle;
    out << a;
}

CycleActions AcquisitionCycle::click(int cycle)
{
    CycleActions out;
    if (m_running[cycle]) {
        stop(out, cycle);
        return out;
    }
    for (int i = 0; i < m_running.size(); ++i)
        if (i != cycle && m_running[i])
            stop(out, i);
    run(out, cycle, true);
    return out;
}

CycleActions AcquisitionCycle::tick(int cycle, bool portOpen, const BoxAddress &address, const QByteArray &received,
                                    bool echoKnown)
{
    CycleActions out;
    for (int i = 0; i < m_running.size(); ++i)
        if (m_timers.enabled({TimerRef::ReadTimeout, i}))
            judgeRead(out, i, received, echoKnown);
    out << CycleAction(CycleAction::Clear);
    m_request.clear();
    if (!portOpen || !address.number) {
        stop(out, cycle);
        out << CycleAction(CycleAction::Prompt, portOpen ? address.problem : kOpenPortFirst);
        return out;
    }
    const Read &r = m_reads[cycle];
    m_request = readRequest(*address.number, r.function, r.start, r.count);
    out << CycleAction(CycleAction::Send, m_request);
    m_timers.set(out, {TimerRef::ReadTimeout, cycle}, true);
    return out;
}

void AcquisitionCycle::judgeRead(CycleActions &out, int cycle, const QByteArray &received, bool echoKnown)
{
    // Judged against the last request, whatever it was, at this cycle's own reply length: a
    // write's echo that arrives in time for a read time-out is no read reply.
    const Read &r = m_reads[cycle];
    CycleAction a = CycleAction::judged(m_request, replyLength(r.function, r.count), received, echoKnown, framing);
    a.cycle = cycle;
    a.decode = a.verdict.accepted() && (!m_reads[cycle].decodeOnlyWhileAcquiring || m_running[cycle]);
    out << a;
    m_timers.set(out, {TimerRef::ReadTimeout, cycle}, false);
}

CycleActions AcquisitionCycle::readTimeout(int cycle, const QByteArray &received, bool echoKnown)
{
    CycleActions out;
    judgeRead(out, cycle, received, echoKnown);
    return out;
}

CycleActions AcquisitionCycle::validate(bool portOpen, const BoxAddress &address,
                                        const std::function<QByteArray(std::uint8_t)> &request)
{
    CycleActions out;
    for (int i = 0; i < m_running.size(); ++i) {
        if (m_running[i]) {
            m_timers.set(out, {TimerRef::Acquisition, i}, false);
            m_resume = i + 1;
            CycleAction pause(CycleAction::Pause);
            pause.ms = 300;
            out << pause;
            break;
        }
    }
    out << CycleAction(CycleAction::Clear);
    m_request.clear();
    std::optional<QString> problem;
    if (!portOpen) {
        // No port to poll either: the suspended cycle ends here, or its next tick would say
        // the same again.
        if (m_resume > 0)
            stop(out, m_resume - 1);
        m_resume = 0;
        problem = kOpenPortFirst;
    } else if (!address.number) {
        problem = address.problem;
        resumeSuspended(out);
    }
    if (problem) {
        out << CycleAction(CycleAction::Prompt, *problem);
        return out;
    }
    m_request = request(*address.number);
    out << CycleAction(CycleAction::Send, m_request);
    m_timers.set(out, {TimerRef::WriteTimeout, 0}, true);
    return out;
}

CycleActions AcquisitionCycle::writeTimeout(const QByteArray &received, bool echoKnown)
{
    CycleActions out{CycleAction::judged(m_request, kEchoLength, received, echoKnown, framing)};
    m_timers.set(out, {TimerRef::WriteTimeout, 0}, false);
    resumeSuspended(out);
    return out;
}

void AcquisitionCycle::resumeSuspended(CycleActions &out)
{
    const int cycle = m_resume - 1;
    m_resume = 0;
    if (cycle < 0 || cycle >= m_running.size() || !m_running[cycle])
        return; // the user stopped it meanwhile
    for (int i = 0; i < m_running.size(); ++i)
        if (i != cycle && m_timers.enabled({TimerRef::Acquisition, i}))
            return; // another cycle took the port
    m_timers.set(out, {TimerRef::Acquisition, cycle}, true);
}

CycleActions AcquisitionCycle::lineLost()
{
    CycleActions out;
    for (int i = 0; i < m_running.size(); ++i)
        if (m_running[i])
            stop(out, i);
    m_resume = 0;
    return out;
}

QVector<AcquisitionCycle::Read> modelReads(const ModelRow &row)
{
    QVector<AcquisitionCycle::Read> reads;
    if (row.channels() > 0)
        reads.append({0x03, 0, std::uint16_t(row.channels()), AcquisitionCycle::Read::AnalogAddressMessage, false});
    if (row.inputs() > 0)
        reads.append({0x02, 0, std::uint16_t(row.inputs()), AcquisitionCycle::Read::DigitalAddressMessage, true});
    return reads;
}
