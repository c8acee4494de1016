#include "decoders.h"

#include "linesettings.h"

static std::uint8_t dataByte(const QByteArray &reply, int k)
{
    const qsizetype at = 3 + qsizetype(k);
    return at < reply.size() ? std::uint8_t(reply[at]) : 0;
}

QList<bool> digitalInputs(const QByteArray &reply, int count)
{
    QList<bool> on;
    for (int i = 0; i < count; ++i)
        on << bool((dataByte(reply, i / 8) >> (i % 8)) & 1);
    return on;
}

QList<std::uint16_t> registerValues(const QByteArray &reply, int count)
{
    QList<std::uint16_t> values;
    for (int i = 0; i < count; ++i)
        values << std::uint16_t(dataByte(reply, 2 * i) << 8 | dataByte(reply, 2 * i + 1));
    return values;
}

QStringList analogTexts(const QByteArray &reply, Conversion conversion, int count)
{
    QStringList texts;
    for (std::uint16_t r : registerValues(reply, count))
        texts << convert(conversion, r);
    return texts;
}

ModuleParameters moduleParameters(const QByteArray &reply)
{
    const QList<std::uint16_t> r = registerValues(reply, 3);
    return {r[0], r[1], r[2]};
}

QString parameterLines(const ModuleParameters &p)
{
    const QString parameters = p.code >= 1 && p.code <= 8 ? communicationParameterTexts()[p.code - 1] : QString();
    return QStringLiteral("Moudle address: %1\r\nCommunication parameters: %2\r\nMoudle model: KV%3ADAM")
        .arg(p.address)
        .arg(parameters)
        .arg(p.model);
}
