#include "csv.h"

#include <algorithm>

QString csvField(const QString &field)
{
    static const QString special = QStringLiteral(",\"\r\n");
    const bool plain = std::none_of(field.begin(), field.end(), [](QChar c) { return special.contains(c); });
    return plain ? field : csvQuoted(field);
}

QString csvQuoted(const QString &field)
{
    return QLatin1Char('"') + QString(field).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
}
