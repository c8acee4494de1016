#include "linesettings.h"

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

QString settingsText(const QString &baud, const QString &parity, const QString &dataBits, const QString &stopBits)
{
    return baud + QLatin1Char(',') + parity + QLatin1Char(',') + dataBits + QLatin1Char(',') + stopBits;
}

QString settingsText(const LineSettings &line)
{
    return settingsText(QString::number(line.baud), QString(QLatin1Char(line.parity)), QString::number(line.dataBits),
                        QString::number(line.stopBits));
}

namespace {
struct ParityEntry {
    char letter;
    QLatin1String name;
};
constexpr ParityEntry kParities[] = {{'N', QLatin1String("None")}, {'O', QLatin1String("Odd")},
                                     {'E', QLatin1String("Even")}};
} // namespace

std::optional<char> parityFromName(const QString &text, Qt::CaseSensitivity cs)
{
    for (const ParityEntry &p : kParities) {
        if (text.compare(p.name, cs) == 0
            || (cs == Qt::CaseInsensitive && text.size() == 1 && text[0].toUpper() == QLatin1Char(p.letter)))
            return p.letter;
    }
    return std::nullopt;
}

QString parityName(char parity)
{
    for (const ParityEntry &p : kParities)
        if (p.letter == parity)
            return p.name;
    return QString(QLatin1Char(parity));
}

const QList<int> &baudRates()
{
    static const QList<int> bauds{4800, 9600, 19200, 38400};
    return bauds;
}

const QStringList &communicationParameterTexts()
{
    static const QStringList texts = [] {
        QStringList t;
        for (const char parity : {'N', 'E'})
            for (const int baud : baudRates())
                t << QStringLiteral("%1,%2,8,1").arg(baud).arg(parityName(parity));
        return t;
    }();
    return texts;
}

QString communicationParameterText(int code)
{
    return isCode(code) ? communicationParameterTexts()[code - 1] : QString();
}

int communicationParameterCode(const QString &text)
{
    return int(communicationParameterTexts().indexOf(text)) + 1;
}

int baudForCode(int code)
{
    return isCode(code) ? baudRates()[(code - 1) % 4] : 0;
}

char parityForCode(int code)
{
    return isCode(code) ? (code <= 4 ? 'N' : 'E') : 0;
}

LineSettings codeSettings(int code)
{
    return LineSettings{baudForCode(code), parityForCode(code), 8, 1};
}

LineSettings withCode(LineSettings line, int code)
{
    if (isCode(code)) {
        line.baud = baudForCode(code);
        line.parity = parityForCode(code);
    }
    return line;
}

qint64 lineTimeUs(const LineSettings &line, int bytes)
{
    if (line.baud <= 0)
        return 0;
    const qint64 bits = qint64(bytes) * (1 + line.dataBits + (line.parity == 'N' ? 0 : 1) + line.stopBits);
    return (bits * 1000000 + line.baud - 1) / line.baud;
}

qint64 frameSilenceUs(qint32 baud)
{
    if (baud <= 0)
        return 0;
    return baud > 19200 ? 1750 : (qint64(38500000) + baud - 1) / baud;
}

qint64 replyQuietUs(qint32 baud, int latencyMs)
{
    constexpr int kUnknownLatencyMs = 20;
    return frameSilenceUs(baud) + qint64(latencyMs < 0 ? kUnknownLatencyMs : latencyMs) * 1000;
}
