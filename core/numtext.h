// Numbers held as text (address boxes, settings-file lines): blanks are ignored, reading stops at
// the first character that cannot continue the number, and whole numbers round halves to even.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

struct LeadingNumber {
    double value = 0; // 0 when no number was found
    bool found = false;
};

LeadingNumber scanLeadingNumber(const QString &text);
inline double leadingNumber(const QString &text) { return scanLeadingNumber(text).value; }

// Rounds to the nearest whole number, halves to the even neighbour (2.5 -> 2, 3.5 -> 4).
double roundHalfEven(double value);

// A module address typed into an address box: a whole number 0 to 255 after the rule above
// ("12x" is 12, "1.5" is 2). Empty text, text without a number ("abc") and numbers outside the
// byte range give nothing.
std::optional<std::uint8_t> addressFromText(const QString &text);
