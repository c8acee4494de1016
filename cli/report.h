// What korvant-cli prints: the channels of a read as the windows show them, and the modules it
// finds. Plain functions of the reply's bytes, so their texts are tested without a port.
#pragma once

#include "cycle.h"
#include "decoders.h"
#include "linesettings.h"

#include <QString>
#include <QVector>

#include <cstdint>

struct ChannelValue {
    QString caption; // the window's caption without its padding blanks: "DI_01", "AI_3"
    QString value;   // as the window shows it: "ON", "10.00mA", "25.3℃", "Not Connect"
};

// The channels one of the model's reads shows, from an accepted reply to it.
QVector<ChannelValue> readChannels(const ModelRow &row, const AcquisitionCycle::Read &read, const QByteArray &reply);
// "DI_01: ON"
QString channelLine(const ChannelValue &channel);

// "KV5510ADAM" for register 102's value 5510.
QString modelText(std::uint16_t model);

// A module found by scan: its parameter registers, and the settings it answered at.
struct FoundModule {
    ModuleParameters parameters;
    LineSettings line;
};
// "address 1  code 2  baud 9600  parity None  model KV5510ADAM"
QString foundLine(const FoundModule &found);
