#include "KelvarFont.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace vm {

namespace {

uint8_t blueAt(const QImage& aImage, int aX, int aY)
{
    return uint8_t(qBlue(reinterpret_cast<const QRgb*>(aImage.constScanLine(aY))[aX]));
}

}  // namespace

KelvarFont::KelvarFont(const QImage& aImage)
{
    const int width = aImage.width(), rows = aImage.height();
    KELVAR_ASSERT(aImage.format() == QImage::Format_ARGB32 && width >= 1 && rows >= 1);
    height = rows - 1;

    // Coverage: the blue value of every pixel above the marker row.
    glyphImage = QImage(width, rows, QImage::Format_Indexed8);
    glyphImage.fill(0);
    for (int y = 0; y < height; ++y) {
        uchar* target = glyphImage.scanLine(y);
        for (int x = 0; x < width; ++x)
            target[x] = blueAt(aImage, x, y);
    }

    while (ascent < height && blueAt(aImage, 0, ascent) != 0)
        ++ascent;

    const int markerRow = rows - 1;
    int start = 1;
    for (int x = 2; x < width; ++x) {
        if (blueAt(aImage, x, markerRow) == 0)
            continue;
        glyphs.append(CharData{start, x - start});
        start = x;
    }
}

int KelvarFont::getStringWidth(const OString& aText, int aStart, int aCount) const
{
    int64_t sum = 0;
    std::u16string_view units = aText.view();
    for (int i = aStart; i < aStart + aCount; ++i)
        sum += glyph(units[size_t(i)]).width;
    return int(std::min<int64_t>(sum, INT_MAX));
}

int KelvarFont::getCharsThatFit(const OString& aText, int aStart, int aCount, int aMaxWidth) const
{
    int64_t sum = 0;
    std::u16string_view units = aText.view();
    int fitting = 0;
    for (int i = aStart; i < aStart + aCount; ++i) {
        sum += glyph(units[size_t(i)]).width;
        if (sum > aMaxWidth)
            break;
        ++fitting;
    }
    return fitting;
}

const QPixmap& KelvarFont::tint(TUint32 aColour)
{
    TUint32 colour = aColour | 0xFF000000u;
    if (colour == tintColour && glyphImage.colorCount() > 0)
        return tintedPixmap;
    QList<QRgb> table(256);
    for (int i = 0; i < 256; ++i)
        table[i] = (colour & 0xFFFFFFu) + TUint32(i) * 0x1000000u;
    glyphImage.setColorTable(table);
    tintColour = colour;
    tintedPixmap = QPixmap::fromImage(glyphImage);
    return tintedPixmap;
}

}  // namespace vm
