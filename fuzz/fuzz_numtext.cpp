// The leading-number rule on arbitrary text (as typed into an address box or read from a settings
// line) and the half-to-even rounding on arbitrary doubles.
//
// Input: an encoding byte, a blank position byte, 8 bytes of a double, then the text's bytes.
#include "fuzzinput.h"
#include "numtext.h"

#include <cmath>
#include <cstring>

namespace {

void checkRounding(double v)
{
    if (!std::isfinite(v))
        return;
    const double r = roundHalfEven(v);
    FUZZ_CHECK(std::isfinite(r));
    FUZZ_CHECK(r == std::trunc(r));
    FUZZ_CHECK(std::abs(r - v) <= 0.5);
    if (std::abs(r - v) == 0.5)
        FUZZ_CHECK(std::fmod(r, 2.0) == 0.0);
    FUZZ_CHECK(roundHalfEven(-v) == -r);
    FUZZ_CHECK(roundHalfEven(r) == r);
}

bool sameNumber(const LeadingNumber &a, const LeadingNumber &b)
{
    return a.found == b.found && a.value == b.value;
}

QString withoutBlanks(QString text)
{
    for (QChar blank : {QChar(u' '), QChar(u'\t'), QChar(u'\n'), QChar(u'\r')})
        text.remove(blank);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::uint8_t encoding = in.byte();
    const std::uint8_t blankAt = in.byte();
    const QByteArray raw = in.bytes(8);
    double number = 0;
    std::memcpy(&number, raw.leftJustified(8, '\0').constData(), sizeof number);
    const QByteArray bytes = in.rest();

    QString text;
    switch (encoding % 3) {
    case 0: text = QString::fromLatin1(bytes); break;
    case 1: text = QString::fromUtf8(bytes); break;
    default:
        text = QString(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2);
        break;
    }

    const LeadingNumber n = scanLeadingNumber(text);
    FUZZ_CHECK(std::isfinite(n.value));
    if (!n.found)
        FUZZ_CHECK(n.value == 0);
    FUZZ_CHECK(leadingNumber(text) == n.value);
    checkRounding(n.value);

    // Blanks count for nothing, wherever they stand.
    FUZZ_CHECK(sameNumber(scanLeadingNumber(withoutBlanks(text)), n));
    QString blanked = text;
    blanked.insert(blankAt % (text.size() + 1), QLatin1Char(' '));
    FUZZ_CHECK(sameNumber(scanLeadingNumber(blanked), n));

    const auto address = addressFromText(text);
    const double rounded = roundHalfEven(n.value);
    if (address) {
        FUZZ_CHECK(n.found && rounded == *address);
    } else {
        FUZZ_CHECK(!n.found || rounded < 0 || rounded > 255);
    }

    // Any number the tool could print reads back as itself.
    checkRounding(number);
    if (std::isfinite(number)) {
        for (const QString &printed : {QString::number(number, 'g', 17), QString::number(number, 'e', 16)}) {
            const LeadingNumber back = scanLeadingNumber(printed);
            FUZZ_CHECK(back.found && back.value == number);
        }
        const int whole = int(std::fmod(std::abs(number), 256.0)); // 0..255
        FUZZ_CHECK(addressFromText(QString::number(whole)) == std::uint8_t(whole));
        FUZZ_CHECK(addressFromText(QStringLiteral(" %1 x").arg(whole)) == std::uint8_t(whole));
    }
    return 0;
}
