#include "numtext.h"

#include <charconv>
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
    // from_chars reads the decimal point whatever the user's locale (strtod would read "1.5" as 1
    // under a German one); it takes no leading plus sign.
    const char *first = digits.data() + (digits[0] == '+' ? 1 : 0);
    double v = 0;
    const auto [end, error] = std::from_chars(first, digits.data() + digits.size(), v);
    Q_UNUSED(end);
    if (error != std::errc() || !std::isfinite(v))
        return {};
    return {v, true};
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
