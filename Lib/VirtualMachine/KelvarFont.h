// KelvarFont: a bitmap font defined by an image in which the glyphs of the
// characters from code 32 upwards stand side by side.
//
// Image layout (only the blue value of each pixel is read):
//  - every row but the last holds glyph pixels; a pixel's blue value is its
//    coverage (0 transparent, 255 opaque);
//  - column 0 marks the ascent: the rows from the top whose column-0 pixel
//    is non-zero, up to the first zero one;
//  - the last row is the marker row: a non-zero pixel at x >= 2 ends a
//    glyph; the first glyph starts at column 1 and each marker column
//    belongs to the next glyph. A marker at x = 1 (or 0) marks nothing and
//    is ignored.
// Text is drawn from a pixmap of the coverage tinted to one colour; the
// pixmap is rebuilt only when the colour changes.
#pragma once

#include <QImage>
#include <QPixmap>

#include "../Containers/Vec.h"
#include "CAppsFont.h"

namespace vm {

class KelvarFont : public CAppsFont {
public:
    struct CharData {
        int offset;  // x of the glyph's first column in the image
        int width;   // pixels; 0 for characters outside the table
    };

    // Builds the font from an ARGB32 image of at least 1 x 1 pixel.
    explicit KelvarFont(const QImage& aImage);

    int getAscent() const override { return ascent; }
    int getHeight() const override { return height; }
    int getStringWidth(const OString& aText, int aStart, int aCount) const override;
    int getCharsThatFit(const OString& aText, int aStart, int aCount, int aMaxWidth) const override;
    int getKind() const override { return KKelvarFont; }

    // The glyph of a character code: offset 0 and width 0 below 32 and past
    // the table.
    CharData glyph(char16_t aCode) const
    {
        unsigned index = unsigned(aCode) - 32u;
        return index < unsigned(glyphs.count()) ? glyphs[int(index)] : CharData{0, 0};
    }
    int glyphCount() const { return glyphs.count(); }
    // The glyph pixmap tinted to the colour's red, green and blue (alpha is
    // taken as 255); rebuilt only when that colour changes.
    const QPixmap& tint(TUint32 aColour);
    TUint32 lastTint() const { return tintColour; }

private:
    int ascent = 0;
    int height = 0;
    Vec<CharData> glyphs;
    QImage glyphImage;  // Indexed8, coverage per pixel
    QPixmap tintedPixmap;
    TUint32 tintColour = 0xFFFFFFFF;  // the colour the table was last built for
};

}  // namespace vm
