// Lines of text as a font's glyphs, for the traffic monitor's own texts.
#pragma once

#include <QFont>
#include <QGlyphRun>
#include <QRawFont>

// A line of text as the font's glyphs side by side: glyph indexes and advances looked up without
// the shaping a QString draw goes through. Enough for this window's own texts (times, hex,
// verdicts, figures); empty when the font lacks a glyph, and the caller then draws the text.
struct GlyphLine {
    QGlyphRun run;
    qreal width = 0;
    bool isEmpty() const { return run.glyphIndexes().isEmpty(); }
    static GlyphLine of(const QRawFont &font, const QString &text);
    // The line cut to at most width with "…" at the end; empty when the font has no "…".
    GlyphLine elided(const QRawFont &font, qreal width) const;
};

// The raw font of the font a text is drawn in, looked up again only when that font changes.
struct GlyphFont {
    QFont font;
    QRawFont raw;
    // True when f is not the font of the last call: raw is then f's, and lines of the old one
    // are to be made again.
    bool use(const QFont &f);
};
