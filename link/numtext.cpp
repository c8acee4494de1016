#include "numtext.h"

#include <cmath>

LeadingNumber scanLeadingNumber(const QString &text)
{
    // Collect the characters of the number, skipping blanks wherever they stand.
    std::string digits;
    bool sign = false, point = false, expo = false, mantissa = false, expDigits = false;
    bool expSign = false;
    for (QChar qc : text) {
        const char16_t c = qc.unicode();
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            continue;
        if (c >= '0' && c <= '9') {
            digits += char(c);
            (expo ? expDigits : mantissa) = true;
            continue;
        }
        if ((c == '+' || c == '-') && !expo && !sign && !mantissa && !point) {
            sign = true;
            digits += char(c);
            continue;
        }
        if ((c == '+' || c == '-') && expo && !expSign && !expDigits) {
            expSign = true;
            digits += char(c);
            continue;
        }
        if (c == '.' && !point && !expo) {
            point = true;
            digits += '.';
            continue;
        }
        if ((c == 'e' || c == 'E' || c == 'd' || c == 'D') && mantissa && !expo) {
            expo = true;
            digits += 'e';
            continue;
        }
        break;
    }
    if (!mantissa)
        return {};
    if (expo && !expDigits) {
        // "12e" or "12e-": the exponent never started, so the number ends before it.
        digits.erase(digits.find('e'));
    }
    const double v = std::strtod(digits.c_str(), nullptr);
    return {std::isfinite(v) ? v : 0.0, std::isfinite(v)};
}

double roundHalfEven(double value)
{
    return std::nearbyint(value); // the default rounding mode is to nearest, ties to even
}

std::optional<std::uint8_t> addressFromText(const QString &text)
{
    const LeadingNumber n = scanLeadingNumber(text);
    if (!n.found)
        return std::nullopt;
    const double v = roundHalfEven(n.value);
    if (v < 0 || v > 255)
        return std::nullopt;
    return std::uint8_t(v);
}
