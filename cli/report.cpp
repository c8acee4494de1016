#include "report.h"

#include "commandline.h"
#include "conversions.h"

QVector<ChannelValue> readChannels(const ModelRow &row, const AcquisitionCycle::Read &read, const QByteArray &reply)
{
    QVector<ChannelValue> channels;
    if (read.function == 0x02) {
        const QList<bool> on = digitalInputs(reply, read.count);
        for (int i = 0; i < read.count; ++i)
            channels.append({row.inputCaptions.value(i).trimmed(), on[i] ? kOn : kOff});
    } else {
        const QStringList texts = analogTexts(reply, row.conversion, read.count);
        for (int i = 0; i < read.count; ++i)
            channels.append({row.analogCaptions.value(i).trimmed(), texts[i]});
    }
    return channels;
}

QString channelLine(const ChannelValue &channel)
{
    return channel.caption + QStringLiteral(": ") + channel.value;
}

QString modelText(std::uint16_t model)
{
    return QStringLiteral("KV%1ADAM").arg(model);
}

QString foundLine(const FoundModule &found)
{
    return QStringLiteral("address %1  code %2  baud %3  parity %4  model %5")
        .arg(found.parameters.address)
        .arg(found.parameters.code)
        .arg(found.line.baud)
        .arg(parityName(found.line.parity))
        .arg(modelText(found.parameters.model));
}
