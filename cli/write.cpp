// korvant-cli write: the digital outputs switched, or the analog output set, in one write.
#include "commands.h"

#include "context.h"
#include "conversions.h"

int runWrite(Context &c)
{
    const CliOptions &o = c.o;
    const bool analog = o.model->kind == PanelKind::AnalogOutput;
    const QList<bool> states = analog ? QList<bool>() : *outputStates(*o.on, o.model->outputs());
    const auto address = std::uint8_t(o.address);
    const int status = c.writeExchange(analog ? writeRegisterRequest(address, 0, std::uint16_t(*o.outputPosition))
                                            : writeCoilsRequest(address, states));
    if (status != ExitOk)
        return status;
    QVector<ValueRow> written;
    if (analog) {
        const QString ma = outputCurrentText(*o.outputPosition);
        written.append({.wallMs = 0, .window = {}, .address = o.address, .channel = QStringLiteral("Analog Output"),
                        .value = ma.toDouble(), .unit = QStringLiteral("mA"), .raw = std::uint16_t(*o.outputPosition), .text = ma + QStringLiteral("mA"), .digital = false, .tag = {}});
    } else {
        for (int i = 0; i < states.size(); ++i)
            written.append({.wallMs = 0, .window = {}, .address = o.address, .channel = o.model->outputCaptions[i].trimmed(),
                            .value = states[i] ? 1 : 0, .unit = {}, .raw = std::uint16_t(states[i]), .text = states[i] ? kOn : kOff, .digital = true, .tag = {}});
    }
    if (o.json) {
        for (const QJsonObject &object : exchangeJson(c.written, written))
            c.print(object);
        return ExitOk;
    }
    for (const ValueRow &row : written)
        c.print(channelLine({row.channel, row.text}) + (analog ? QStringLiteral(" (%1)").arg(*o.outputPosition) : QString()));
    return ExitOk;
}
