#include "serialline.h"

#include "qserialline.h"

#include <QStringList>

std::optional<LineSettings> parseSettingsText(const QString &text)
{
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    const QString baud = parts[0].trimmed();
    s.baud = baud.toInt(&ok);
    if (!ok || s.baud <= 0 || baud.startsWith(QLatin1Char('+')))
        return std::nullopt;
    const QString parity = parts[1].trimmed();
    if (parity.size() != 1 || !QStringLiteral("NOEMS").contains(parity[0]))
        return std::nullopt;
    s.parity = char(parity[0].unicode());
    s.dataBits = parts[2].trimmed().toInt(&ok);
    if (!ok || s.dataBits < 5 || s.dataBits > 8)
        return std::nullopt;
    s.stopBits = parts[3].trimmed().toInt(&ok);
    if (!ok || (s.stopBits != 1 && s.stopBits != 2))
        return std::nullopt;
    return s;
}

static SerialLineFactory &factorySlot()
{
    static SerialLineFactory factory;
    return factory;
}

std::unique_ptr<SerialLine> makeSerialLine()
{
    if (factorySlot())
        return factorySlot()();
    return std::make_unique<QSerialLine>();
}

void setSerialLineFactory(SerialLineFactory factory)
{
    factorySlot() = std::move(factory);
}
