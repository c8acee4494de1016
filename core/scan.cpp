#include "scan.h"

#include "linesettings.h"

const QString kReadCaption = QStringLiteral("Read");
const QString kParametersNotValid = QStringLiteral("Communication parameters are not valid！");

namespace {
constexpr TimerRef kTick{TimerRef::Acquisition, 0};
constexpr TimerRef kReadTimeout{TimerRef::ReadTimeout, 0};
constexpr TimerRef kWriteTimeout{TimerRef::WriteTimeout, 0};
} // namespace

bool ParameterCycle::scanning() const
{
    return m_running || m_timers.enabled(kTick);
}

void ParameterCycle::caption(CycleActions &out, const QString &text)
{
    m_running = text == kStopCaption;
    CycleAction a(CycleAction::Caption, text);
    a.cycle = 0;
    out << a;
}

CycleActions ParameterCycle::prompt(const QString &text)
{
    return {CycleAction(CycleAction::Prompt, text)};
}

void ParameterCycle::endScan(CycleActions &out)
{
    caption(out, kReadCaption);
    m_timers.set(out, kTick, false);
    m_step = 0;
}

CycleActions ParameterCycle::click(bool portOpen)
{
    if (!portOpen)
        return prompt(kOpenPortFirst);
    CycleActions out;
    // Stopping keeps the step, so "Read" goes on where the scan stopped; an armed time-out is
    // still judged.
    const bool start = !m_running;
    caption(out, start ? kStopCaption : kReadCaption);
    m_timers.set(out, kTick, start);
    return out;
}

CycleActions ParameterCycle::tick(bool portOpen, const QByteArray &received, bool echoKnown)
{
    CycleActions out;
    if (!portOpen) {
        endScan(out);
        return out;
    }
    if (m_timers.enabled(kReadTimeout)) {
        judgeRead(out, received, echoKnown);
        if (!m_timers.enabled(kTick))
            return out;
    }
    CycleAction reopen{CycleAction::Reopen};
    reopen.step = m_step;
    out << reopen;
    return out;
}

CycleActions ParameterCycle::reopened(bool ok)
{
    if (!ok)
        return lineLost(); // the scan ends where it is
    ++m_step;
    return send(parameterReadRequest(), kReadTimeout);
}

CycleActions ParameterCycle::send(const QByteArray &frame, TimerRef timeout)
{
    CycleActions out{CycleAction{CycleAction::Clear}};
    m_request = frame;
    out << CycleAction(CycleAction::Send, frame);
    // Each request gets its full time-out, even if an earlier one is still armed.
    m_timers.set(out, timeout, false);
    m_timers.set(out, timeout, true);
    return out;
}

void ParameterCycle::judgeRead(CycleActions &out, const QByteArray &received, bool echoKnown)
{
    // Judged at the parameter read's length whatever went last (a write sent during the scan).
    CycleAction a = CycleAction::judged(m_request, kParameterReplyLength, received, echoKnown, framing);
    a.cycle = 0;
    a.decode = a.verdict.accepted();
    out << a;
    if (a.decode) {
        m_found = moduleParameters(a.reply);
        endScan(out);
    } else if (m_step >= kSteps) {
        endScan(out);
    }
    m_timers.set(out, kReadTimeout, false);
}

CycleActions ParameterCycle::readTimeout(const QByteArray &received, bool echoKnown)
{
    CycleActions out;
    judgeRead(out, received, echoKnown);
    return out;
}

CycleActions ParameterCycle::portClosed()
{
    CycleActions out;
    if (scanning())
        endScan(out);
    return out;
}

CycleActions ParameterCycle::lineLost()
{
    CycleActions out;
    endScan(out);
    return out;
}

CycleActions ParameterCycle::write(bool portOpen, const BoxAddress &address,
                                   const std::function<std::optional<QByteArray>(std::uint8_t)> &request)
{
    CycleActions out{CycleAction{CycleAction::Clear}};
    m_request.clear();
    if (!portOpen)
        return out + prompt(kOpenPortFirst);
    if (!address.number)
        return out + prompt(address.problem);
    const std::optional<QByteArray> frame = request(*address.number);
    if (!frame)
        return out + prompt(kParametersNotValid);
    return out + send(*frame, kWriteTimeout).mid(1);
}

CycleActions ParameterCycle::writeAddress(bool portOpen, const BoxAddress &newAddress)
{
    return write(portOpen, newAddress, [](std::uint8_t address) { return addressWriteRequest(address); });
}

CycleActions ParameterCycle::writeParameters(bool portOpen, const BoxAddress &address, const QString &parametersText)
{
    // Only the exact text of one of the eight entries is a setting a module can take.
    const int code = communicationParameterCode(parametersText);
    return write(portOpen, address, [code](std::uint8_t address) -> std::optional<QByteArray> {
        if (code == 0)
            return std::nullopt;
        return commWriteRequest(address, std::uint8_t(code));
    });
}

CycleActions ParameterCycle::writeTimeout(const QByteArray &received, bool echoKnown)
{
    CycleActions out{CycleAction::judged(m_request, kEchoLength, received, echoKnown, framing)};
    m_timers.set(out, kWriteTimeout, false);
    return out;
}
