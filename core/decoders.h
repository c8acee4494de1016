// What an accepted reply says, per panel kind. Every decoder takes the reply's bytes (address,
// function, byte count, data, CRC); a byte the reply lacks reads as 0.
#pragma once

#include "models.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>

// Inputs 1..count of a function-02 reply: input i is bit i%8 of data byte i/8.
QList<bool> digitalInputs(const QByteArray &reply, int count);
// Registers 1..count of a function-03 reply, high byte first.
QList<std::uint16_t> registerValues(const QByteArray &reply, int count);
// The same registers as the analog panels show them, by the model's conversion.
QStringList analogTexts(const QByteArray &reply, Conversion conversion, int count);

// Registers 100, 101 and 102 of the parameter read.
struct ModuleParameters {
    std::uint16_t address = 0;
    std::uint16_t code = 0;
    std::uint16_t model = 0;
};
ModuleParameters moduleParameters(const QByteArray &reply);
// The three lines of the parameter window, joined by CR LF; a code outside 1..8 shows no text.
QString parameterLines(const ModuleParameters &p);
