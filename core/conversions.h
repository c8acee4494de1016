// How register values become the texts the panels show.
#pragma once

#include <QString>
#include <cstdint>

// Temperature module: tenths of a degree; 10000 and up below zero; 65535 no sensor.
QString temperatureText(std::uint16_t r);
// 12-bit current reading, 4095 = 20 mA ("20.00mA"); not limited to the nominal range.
QString currentText(std::uint16_t r);
// 12-bit voltage reading, 4095 = 10 V ("10.00V").
QString voltageText(std::uint16_t r);
// Combined temperature module: whole degrees up to 1000, above that no sensor.
QString wholeDegreesText(std::uint16_t r);
// Analog output slider position in thousandths of a milliampere, as milliamperes with two
// decimals; a position ending in 5 lies halfway and rounds to the even hundredth (4005 -> 4.00).
QString outputCurrentText(int position);

extern const QString kNotConnect; // "Not Connect"
