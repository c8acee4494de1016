#include "valuelog.h"

#include "conversions.h"
#include "decoders.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <cstdlib>

QString conversionUnit(Conversion conversion)
{
    switch (conversion) {
    case Conversion::Temperature:
    case Conversion::WholeDegrees: return QStringLiteral("℃");
    case Conversion::Current: return QStringLiteral("mA");
    case Conversion::Voltage: return QStringLiteral("V");
    case Conversion::None: break;
    }
    return {};
}

std::optional<double> convertedValue(Conversion conversion, std::uint16_t r)
{
    // The number of the text, so a log and a trend say what the window said.
    QString text = convert(conversion, r);
    if (text == kNotConnect)
        return std::nullopt;
    text.chop(conversionUnit(conversion).size());
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok ? std::optional<double>(v) : std::nullopt;
}

QStringList channelCaptions(const ModelRow &model, const AcquisitionCycle::Read &read)
{
    const QStringList &captions = read.function == 0x02 ? model.inputCaptions : model.analogCaptions;
    QStringList channels;
    for (int i = 0; i < read.count; ++i)
        channels << captions.value(i).trimmed();
    return channels;
}

QVector<ValueRow> valueRows(const ModelRow &model, const AcquisitionCycle::Read &read, const QByteArray &reply,
                            int address, qint64 wallMs, const QString &window)
{
    const QStringList captions = channelCaptions(model, read);
    QVector<ValueRow> rows;
    if (read.function == 0x02) {
        const QList<bool> on = digitalInputs(reply, read.count);
        for (int i = 0; i < read.count; ++i)
            rows.append({wallMs, window, address, captions[i], on[i] ? 1.0 : 0.0, QString(),
                         std::uint16_t(on[i]), on[i] ? kOn : kOff, true, {}});
    } else {
        const QList<std::uint16_t> registers = registerValues(reply, read.count);
        for (int i = 0; i < read.count; ++i)
            rows.append({wallMs, window, address, captions[i],
                         convertedValue(model.conversion, registers[i]), conversionUnit(model.conversion), registers[i],
                         convert(model.conversion, registers[i]), false, {}});
    }
    return rows;
}

const QString kValueCsvHeader = QStringLiteral("time,window,address,channel,value,unit,raw,text");

QString isoTime(const QDateTime &time)
{
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz"))
           + QStringLiteral("%1%2:%3")
                 .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                 .arg(minutes / 60, 2, 10, QLatin1Char('0'))
                 .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString isoLocalTime(qint64 wallMs)
{
    return isoTime(QDateTime::fromMSecsSinceEpoch(wallMs));
}

QString valueCsvLine(const ValueRow &row)
{
    const QString value = row.value ? QString::number(*row.value, 'g', 15) : QString();
    return QStringList{isoLocalTime(row.wallMs), csvField(row.window), QString::number(row.address), csvField(row.channel),
                       value, csvField(row.unit), QString::number(row.raw), csvField(row.text)}
        .join(QLatin1Char(','));
}

ValueLog::ValueLog(const QString &path, std::function<void(const QString &)> tell, qint64 maxBytes, int keep)
    : m_file(path, QStringLiteral("value log"), (kValueCsvHeader + QLatin1Char('\n')).toUtf8(), std::move(tell)),
      m_maxBytes(maxBytes), m_keep(qMax(1, keep))
{
}

void ValueLog::rotate()
{
    m_file.close();
    const QString path = m_file.path();
    QFile::remove(path + QStringLiteral(".%1").arg(m_keep - 1));
    for (int i = m_keep - 2; i >= 1; --i)
        QFile::rename(path + QStringLiteral(".%1").arg(i), path + QStringLiteral(".%1").arg(i + 1));
    if (m_keep > 1)
        QFile::rename(path, path + QStringLiteral(".1"));
    else
        QFile::remove(path);
}

void ValueLog::write(const QVector<ValueRow> &rows)
{
    QByteArray lines;
    for (const ValueRow &row : rows)
        lines += (valueCsvLine(row) + QLatin1Char('\n')).toUtf8();
    if (lines.isEmpty())
        return;
    // A file holding more than its header moves aside before it would pass the size (a device
    // is never rotated).
    const QFileInfo file(m_file.path());
    if (file.isFile() && file.size() > kValueCsvHeader.size() + 1 && file.size() + lines.size() > m_maxBytes)
        rotate();
    m_file.write(lines, int(rows.size()), rows.first().wallMs);
}
