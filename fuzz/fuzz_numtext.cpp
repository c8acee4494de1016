// The leading-number rule on arbitrary text (as typed into an address box or read from a settings
// line) and the half-to-even rounding on arbitrary doubles.
//
// Input: an encoding byte, a blank position byte, 8 bytes of a double, then the text's bytes.
#include "fuzzinput.h"
#include "numtext.h"

#include <QRegularExpression>

#include <cmath>
#include <cstring>

namespace {

void checkRounding(double v)
{
    if (!std::isfinite(v))
        return;
    const double r = roundHalfEven(v);
    FUZZ_CHECK(r == std::trunc(r) && std::abs(r - v) <= 0.5);
    FUZZ_CHECK(std::abs(r - v) < 0.5 || std::fmod(r, 2.0) == 0.0);
    FUZZ_CHECK(roundHalfEven(-v) == -r && roundHalfEven(r) == r);
}

bool same(const LeadingNumber &a, const LeadingNumber &b)
{
    return a.found == b.found && a.value == b.value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput in(data, size);
    const std::uint8_t encoding = in.byte(), blankAt = in.byte();
    double number = 0;
    std::memcpy(&number, in.bytes(8).leftJustified(8, '\0').constData(), sizeof number);
    const QByteArray bytes = in.rest();
    const QString text = encoding % 3 == 0 ? QString::fromLatin1(bytes)
                         : encoding % 3 == 1 ? QString::fromUtf8(bytes)
                                             : QString(reinterpret_cast<const QChar *>(bytes.constData()), bytes.size() / 2);

    const LeadingNumber n = scanLeadingNumber(text);
    FUZZ_CHECK(std::isfinite(n.value) && (n.found || n.value == 0) && leadingNumber(text) == n.value);
    checkRounding(n.value);
    // Blanks count for nothing, wherever they stand.
    QString blanked = text;
    FUZZ_CHECK(same(scanLeadingNumber(blanked.insert(blankAt % (text.size() + 1), QLatin1Char(' '))), n));
    static const QRegularExpression blanks(QStringLiteral("[ \t\r\n]"));
    FUZZ_CHECK(same(scanLeadingNumber(QString(text).remove(blanks)), n));

    const auto address = addressFromText(text);
    const double rounded = roundHalfEven(n.value);
    FUZZ_CHECK(address ? n.found && rounded == *address : !n.found || rounded < 0 || rounded > 255);

    // Any number the tool could print reads back as itself.
    checkRounding(number);
    if (std::isfinite(number)) {
        for (const QString &printed : {QString::number(number, 'g', 17), QString::number(number, 'e', 16)})
            FUZZ_CHECK(same(scanLeadingNumber(printed), {number, true}));
        const int whole = int(std::fmod(std::abs(number), 256.0)); // 0..255
        FUZZ_CHECK(addressFromText(QStringLiteral(" %1 x").arg(whole)) == std::uint8_t(whole));
    }
    return 0;
}
