// How register values become the texts the panels show.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

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

// The analog output's full scale in thousandths of a milliampere (20 mA): the slider's range and
// the largest value written to the output register.
constexpr int kOutputFullScale = 20000;
// The slider position that shows a current typed in milliamperes ("4", "4.2", "12.345"): at most
// three decimals, 0 to 20 mA. Nothing for any other text.
std::optional<int> outputPositionFromText(const QString &milliamperes);

// The texts of a digital indicator.
extern const QString kOn;  // "ON"
extern const QString kOff; // "OFF"
