#include "report.h"

#include "commandline.h"
#include "conversions.h"
#include "finder.h"
#include "valuelog.h"

#include <QJsonDocument>

#include <cmath>

QVector<ChannelValue> readCaptions(const ModelRow &row, const AcquisitionCycle::Read &read)
{
    QVector<ChannelValue> channels;
    for (const QString &caption : channelCaptions(row, read))
        channels.append({caption, QString()});
    return channels;
}

void setChannelValues(QVector<ChannelValue> &channels, const ModelRow &row, const AcquisitionCycle::Read &read,
                      const QByteArray &reply)
{
    const QVector<ValueRow> rows = valueRows(row, read, reply, 0, 0, QString());
    for (int i = 0; i < read.count; ++i)
        channels[i].value = rows[i].text;
}

QVector<ChannelValue> readChannels(const ModelRow &row, const AcquisitionCycle::Read &read, const QByteArray &reply)
{
    QVector<ChannelValue> channels = readCaptions(row, read);
    setChannelValues(channels, row, read, reply);
    return channels;
}

QString channelLine(const ChannelValue &channel)
{
    return channel.caption + QLatin1String(": ") + channel.value;
}

QString foundLine(const FoundModule &found)
{
    const bool known = found.line.baud > 0;
    return QStringLiteral("address %1  code %2  baud %3  parity %4  model %5")
        .arg(found.parameters.address)
        .arg(found.parameters.code)
        .arg(known ? QString::number(found.line.baud) : QStringLiteral("-"))
        .arg(known ? parityName(found.line.parity) : QStringLiteral("-"))
        .arg(modelName(found.parameters.model));
}

namespace {
const Refusal kVerdicts[] = {Refusal::None, Refusal::NoReply, Refusal::BadCrc, Refusal::Short, Refusal::Long,
                             Refusal::OtherAddress, Refusal::OtherFunction, Refusal::Exception,
                             Refusal::OtherTransaction, Refusal::BadHeader};

// The verdicts only MBAP gives are counted where they happened.
bool shown(const TrafficStatistics &s, Refusal r)
{
    return r < Refusal::OtherTransaction || s.count(r) > 0;
}

// Milliseconds to the microsecond, so the JSON carries no binary noise.
QJsonValue milliseconds(std::optional<double> ms)
{
    return ms && *ms >= 0 ? QJsonValue(std::round(*ms * 1000) / 1000) : QJsonValue(QJsonValue::Null);
}

QString millisecondsText(double ms)
{
    return QString::number(ms, 'f', 2);
}

// A percentile is a bin's lower edge, a whole 0.1 ms, or the minimum or maximum it was held to:
// printed as they are, so that it never lies outside them.
bool heldToEnds(const TrafficStatistics &s, double ms)
{
    return ms == *s.minMs() || ms == *s.maxMs();
}

QString percentileText(const TrafficStatistics &s, double percent)
{
    const double ms = *s.percentileMs(percent);
    return heldToEnds(s, ms) ? millisecondsText(ms) : QString::number(ms, 'f', 1);
}

QJsonValue percentileJson(const TrafficStatistics &s, double percent)
{
    const std::optional<double> ms = s.percentileMs(percent);
    if (!ms || heldToEnds(s, *ms))
        return milliseconds(ms);
    return std::round(*ms * 10) / 10;
}
} // namespace

QString jsonLine(const QJsonObject &object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QJsonObject foundJson(const FoundModule &found)
{
    const bool known = found.line.baud > 0;
    return {{"address", found.parameters.address},
            {"code", found.parameters.code},
            {"baud", known ? QJsonValue(found.line.baud) : QJsonValue()},
            {"parity", known ? QJsonValue(parityName(found.line.parity)) : QJsonValue()},
            {"model", modelName(found.parameters.model)}};
}

QString exchangeLine(const QString &time, const ReplyVerdict &verdict, double responseMs,
                     const QVector<ChannelValue> &channels)
{
    QStringList values;
    for (const ChannelValue &channel : channels)
        values << channelLine(channel);
    const QString response = responseMs >= 0 ? millisecondsText(responseMs) + QStringLiteral(" ms") : QStringLiteral("-");
    return QStringLiteral("%1  %2  %3").arg(time, verdict.reason(), response)
           + (values.isEmpty() ? QString() : QStringLiteral("  ") + values.join(QStringLiteral(", ")));
}

QJsonObject valueJson(const ValueRow &row)
{
    return {{"channel", row.channel}, {"value", row.value ? QJsonValue(*row.value) : QJsonValue()},
            {"unit", row.unit}, {"raw", int(row.raw)}, {"text", row.text}};
}

QList<QJsonObject> exchangeJson(const ExchangeReport &x, const QVector<ValueRow> &rows)
{
    QList<QJsonObject> objects;
    QJsonObject common{{"address", x.address}, {"model", x.model}, {"seq", x.seq}, {"time", isoLocalTime(x.wallMs)},
                       {"verdict", verdictKey(x.verdict.refusal)}, {"response_ms", milliseconds(x.responseMs)}};
    if (x.verdict.refusal == Refusal::Exception)
        common.insert(QStringLiteral("exception"), QJsonObject{{"code", x.verdict.exceptionCode},
                                                               {"name", exceptionName(x.verdict.exceptionCode, x.verdict.gateway)}});
    if (rows.isEmpty())
        objects << common;
    for (const ValueRow &row : rows) {
        QJsonObject o = common;
        const QJsonObject values = valueJson(row);
        for (auto it = values.begin(); it != values.end(); ++it)
            o.insert(it.key(), it.value());
        objects << o;
    }
    return objects;
}

QStringList statisticsLines(const TrafficStatistics &s, int retries)
{
    QStringList counts{QStringLiteral("requests %1").arg(s.requests())};
    for (Refusal r : kVerdicts)
        if (shown(s, r))
            counts << QStringLiteral("%1 %2").arg(verdictKey(r)).arg(s.count(r));
    counts << QStringLiteral("retries %1").arg(retries);
    QString times = QStringLiteral("response ms");
    if (s.minMs()) {
        // The percentiles to the 0.1 ms their bins resolve; minimum and maximum as measured.
        times += QStringLiteral("  min %1  median %2  p99 %3  max %4")
                     .arg(millisecondsText(*s.minMs()), percentileText(s, 50), percentileText(s, 99),
                          millisecondsText(*s.maxMs()));
    } else {
        times += QStringLiteral("  -");
    }
    return {counts.join(QStringLiteral("  ")), QStringLiteral("success %1%").arg(s.successPercent(), 0, 'f', 1), times};
}

QJsonObject statisticsJson(const TrafficStatistics &s, int retries)
{
    QJsonObject o{{"requests", s.requests()}, {"retries", retries}};
    for (Refusal r : kVerdicts)
        if (shown(s, r))
            o.insert(verdictKey(r), s.count(r));
    o.insert(QStringLiteral("success_pct"), std::round(s.successPercent() * 10) / 10);
    o.insert(QStringLiteral("response_ms_min"), milliseconds(s.minMs()));
    o.insert(QStringLiteral("response_ms_median"), percentileJson(s, 50));
    o.insert(QStringLiteral("response_ms_p99"), percentileJson(s, 99));
    o.insert(QStringLiteral("response_ms_max"), milliseconds(s.maxMs()));
    return o;
}

QString surveyLine(const ModuleParameters &p)
{
    return QStringLiteral("address %1  code %2  model %3").arg(p.address).arg(p.code).arg(modelName(p.model));
}

QJsonObject surveyJson(const ModuleParameters &p, double responseMs)
{
    return {{"address", p.address}, {"code", p.code}, {"model", modelName(p.model)}, {"response_ms", milliseconds(responseMs)}};
}

QString portLine(const SerialPortEntry &port)
{
    const auto known = [](const QString &text) { return text.isEmpty() ? QStringLiteral("-") : text; };
    return QStringLiteral("%1  by-id %2  description %3  manufacturer %4  serial %5  access %6")
        .arg(port.device, known(port.byId), known(port.description), known(port.manufacturer), known(port.serialNumber),
             port.mayOpen ? QStringLiteral("yes")
                          : port.exists ? QStringLiteral("no") : QStringLiteral("no (no device node)"));
}

QJsonObject portJson(const SerialPortEntry &port)
{
    const auto known = [](const QString &text) { return text.isEmpty() ? QJsonValue() : QJsonValue(text); };
    return {{"device", port.device}, {"by_id", known(port.byId)}, {"description", known(port.description)},
            {"manufacturer", known(port.manufacturer)}, {"serial", known(port.serialNumber)},
            {"exists", port.exists}, {"access", port.mayOpen}};
}

QString findLine(const FinderRow &row)
{
    const auto known = [](int v, const QString &text) { return v > 0 ? text : QStringLiteral("-"); };
    QString line;
    if (row.isModule())
        line = QStringLiteral("address %1  code %2  ").arg(row.address).arg(known(row.code, QString::number(row.code)));
    line += QStringLiteral("baud %1  parity %2")
                .arg(known(row.baud(), QString::number(row.baud())), row.parity() ? parityName(row.parity()) : QStringLiteral("-"));
    if (row.isModule())
        line += QStringLiteral("  model %1  response %2")
                    .arg(known(row.model, modelName(row.model)),
                         row.responseMs >= 0 ? millisecondsText(row.responseMs) + QStringLiteral(" ms") : QStringLiteral("-"));
    if (!row.note.isEmpty())
        line += QStringLiteral("  note ") + row.note;
    return line;
}

QJsonObject findJson(const FinderRow &row)
{
    QJsonObject o;
    if (row.isModule())
        o.insert(QStringLiteral("address"), row.address);
    if (row.code > 0)
        o.insert(QStringLiteral("code"), row.code);
    if (row.baud() > 0)
        o.insert(QStringLiteral("baud"), row.baud());
    if (row.parity())
        o.insert(QStringLiteral("parity"), parityName(row.parity()));
    if (row.model > 0)
        o.insert(QStringLiteral("model"), modelName(row.model));
    if (row.responseMs >= 0)
        o.insert(QStringLiteral("response_ms"), milliseconds(row.responseMs));
    if (!row.note.isEmpty())
        o.insert(QStringLiteral("note"), row.note);
    return o;
}
