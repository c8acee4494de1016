#include "decoders.h"

#include "linesettings.h"
#include "modbus.h"

QList<bool> digitalInputs(const QByteArray &reply, int count)
{
    return unpackBits(reply, 3, count);
}

QList<std::uint16_t> registerValues(const QByteArray &reply, int count)
{
    QList<std::uint16_t> values;
    for (int i = 0; i < count; ++i)
        values << wordAt(reply, 3 + 2 * qsizetype(i));
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
    return QStringLiteral("Moudle address: %1\r\nCommunication parameters: %2\r\nMoudle model: %3")
        .arg(p.address)
        .arg(communicationParameterText(p.code), modelName(p.model));
}
