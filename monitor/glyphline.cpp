#include "glyphline.h"

GlyphLine GlyphLine::of(const QRawFont &font, const QString &text)
{
    GlyphLine line;
    const QList<quint32> glyphs = font.glyphIndexesForString(text);
    if (glyphs.size() != text.size() || glyphs.contains(0u))
        return line;
    const QList<QPointF> advances = font.advancesForGlyphIndexes(glyphs);
    QList<QPointF> positions;
    positions.reserve(glyphs.size());
    for (const QPointF &a : advances) {
        positions << QPointF(line.width, font.ascent());
        line.width += a.x();
    }
    line.run.setRawFont(font);
    line.run.setGlyphIndexes(glyphs);
    line.run.setPositions(positions);
    return line;
}

GlyphLine GlyphLine::elided(const QRawFont &font, qreal width) const
{
    GlyphLine cut;
    const QList<quint32> dots = font.glyphIndexesForString(QStringLiteral("…"));
    if (dots.size() != 1 || dots[0] == 0)
        return cut;
    const qreal dotsWidth = font.advancesForGlyphIndexes(dots).value(0).x();
    const QList<QPointF> at = run.positions();
    const auto prefix = [&](qsizetype glyphs) { return glyphs < at.size() ? at[glyphs].x() : this->width; };
    qsizetype kept = 0;
    while (kept < at.size() && prefix(kept + 1) + dotsWidth <= width)
        ++kept;
    cut.width = prefix(kept) + dotsWidth;
    cut.run.setRawFont(font);
    cut.run.setGlyphIndexes(run.glyphIndexes().first(kept) << dots[0]);
    cut.run.setPositions(at.first(kept) << QPointF(prefix(kept), font.ascent()));
    return cut;
}

bool GlyphFont::use(const QFont &f)
{
    if (raw.isValid() && f == font)
        return false;
    font = f;
    raw = QRawFont::fromFont(f);
    return true;
}
