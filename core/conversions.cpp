#include "conversions.h"

#include <algorithm>

const QString kNotConnect = QStringLiteral("Not Connect");

static QString tenths(int value)
{
    return QStringLiteral("%1.%2").arg(value / 10).arg(value % 10);
}

QString temperatureText(std::uint16_t r)
{
    if (r == 65535)
        return kNotConnect;
    if (r <= 9999)
        return tenths(r) + QStringLiteral("℃");
    return QStringLiteral("-") + tenths(r - 10000) + QStringLiteral("℃");
}

QString currentText(std::uint16_t r)
{
    return QString::number(int(r) * 20 / 4095.0, 'f', 2) + QStringLiteral("mA");
}

QString voltageText(std::uint16_t r)
{
    return QString::number(int(r) * 10 / 4095.0, 'f', 2) + QStringLiteral("V");
}

QString wholeDegreesText(std::uint16_t r)
{
    return r <= 1000 ? QString::number(r) + QStringLiteral("℃") : kNotConnect;
}

QString outputCurrentText(int position)
{
    int hundredths = position / 10;
    const int rest = position % 10;
    if (rest > 5 || (rest == 5 && hundredths % 2 == 1))
        ++hundredths;
    return QStringLiteral("%1.%2").arg(hundredths / 100).arg(hundredths % 100, 2, 10, QLatin1Char('0'));
}

const QString kOn = QStringLiteral("ON");
const QString kOff = QStringLiteral("OFF");

std::optional<int> outputPositionFromText(const QString &milliamperes)
{
    // Digits only (no sign, exponent or blanks), so the text means exactly one slider position.
    const QString text = milliamperes;
    const qsizetype point = text.indexOf(QLatin1Char('.'));
    const QString whole = point < 0 ? text : text.left(point);
    const QString fraction = point < 0 ? QString() : text.mid(point + 1);
    const auto digitsOnly = [](const QString &s) {
        return std::all_of(s.begin(), s.end(), [](QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); });
    };
    if (whole.isEmpty() || whole.size() > 2 || fraction.size() > 3 || (point >= 0 && fraction.isEmpty())
        || !digitsOnly(whole) || !digitsOnly(fraction))
        return std::nullopt;
    const int position = whole.toInt() * 1000 + (fraction + QStringLiteral("000")).left(3).toInt();
    if (position > kOutputFullScale)
        return std::nullopt;
    return position;
}
