#include "onemodule.h"

Presence presenceOf(const ReplyVerdict &verdict)
{
    if (verdict.refusal == Refusal::NoReply)
        return Presence::Nobody;
    return verdict.accepted() || verdict.refusal == Refusal::Exception ? Presence::One : Presence::Several;
}

OneModuleWrite OneModuleWrite::address(std::uint8_t from, std::uint8_t to)
{
    return OneModuleWrite(from, to, 0);
}

OneModuleWrite OneModuleWrite::comm(std::uint8_t address, int code)
{
    return OneModuleWrite(address, address, code);
}

QByteArray OneModuleWrite::request() const
{
    switch (m_step) {
    case Step::Check: return parameterReadRequest(m_module);
    case Step::Free:
    case Step::Verify: return parameterReadRequest(std::uint8_t(m_target));
    case Step::Write:
        return m_code > 0 ? commWriteRequest(m_module, std::uint8_t(m_code))
                          : addressWriteTo(m_module, std::uint8_t(m_target));
    case Step::Done: break;
    }
    return {};
}

LineSettings OneModuleWrite::lineAfter(LineSettings line) const
{
    return withCode(line, m_code);
}

void OneModuleWrite::heard(const ReplyVerdict &verdict)
{
    const Presence presence = presenceOf(verdict);
    const auto end = [this](Outcome outcome) {
        m_outcome = outcome;
        m_step = Step::Done;
    };
    switch (m_step) {
    case Step::Check:
        if (presence != Presence::One)
            return end(presence == Presence::Several ? Outcome::Several : Outcome::Nobody);
        // A module cannot take address 0 (the broadcast's, which every module answers) nor its own.
        m_step = m_code == 0 && m_target != 0 && m_target != m_module ? Step::Free : Step::Write;
        return;
    case Step::Free:
        if (presence != Presence::Nobody)
            return end(Outcome::Taken);
        m_step = Step::Write;
        return;
    case Step::Write:
        if (!verdict.accepted())
            return end(Outcome::WriteRefused);
        m_written = true;
        m_step = Step::Verify;
        return;
    case Step::Verify:
        return end(presence == Presence::One ? Outcome::Written : presence == Presence::Several ? Outcome::Several
                                                                                              : Outcome::NotThere);
    case Step::Done: break;
    }
}

QString OneModuleWrite::refusal() const
{
    const QString where = m_code > 0 ? QStringLiteral("address %1 at %2")
                                           .arg(m_module)
                                           .arg(communicationParameterTexts().value(m_code - 1))
                                     : QStringLiteral("%1").arg(m_target);
    switch (m_outcome) {
    case Outcome::Several:
        return m_written ? QStringLiteral("written to %1, but several modules answer at %2").arg(m_module).arg(where)
                       : QStringLiteral("several modules answered at address %1 (their replies collided), so nothing "
                                        "was written: disconnect all but one and try again").arg(m_module);
    case Outcome::Nobody:
        return QStringLiteral("no module answered at address %1, so nothing was written").arg(m_module);
    case Outcome::Taken:
        return QStringLiteral("address %1 is taken: a module answered there, so nothing was written").arg(m_target);
    case Outcome::NotThere:
        return QStringLiteral("written to %1, but no module answers at %2").arg(m_module).arg(where);
    default: break;
    }
    return {};
}

QString OneModuleWrite::key() const
{
    switch (m_outcome) {
    case Outcome::Written: return QStringLiteral("ok");
    case Outcome::Several: return QStringLiteral("collision");
    case Outcome::Nobody: return QStringLiteral("timeout");
    case Outcome::Taken: return QStringLiteral("taken");
    case Outcome::NotThere: return QStringLiteral("not_there");
    default: break;
    }
    return {};
}
