// Fonts of the VM: CAppsFont, the measuring interface, and NativeFont, the
// system font. Bitmap fonts are KelvarFont (KelvarFont.h).
//
// A font lives in a heap block (GC_CODE_FONT, handle in word 0); bytecode
// holds it through a one-word box (GC_CODE_REFERENCE) naming that block.
// Ranges given to the measuring operations are already resolved: 0 <= start
// and start + count <= the string's length.
#pragma once

#include <QFont>
#include <QFontMetrics>

#include "../Containers/OString.h"
#include "GCObject.h"
#include "Heap.h"
#include "Types.h"

namespace vm {

class CAppsFont : public GCObject {
public:
    enum Kind { KNativeFont = 0, KKelvarFont = 1 };
    // Payload bytes of a font block (the handle word).
    static constexpr uint32_t kBlockSize = 4;

    virtual int getAscent() const = 0;
    virtual int getHeight() const = 0;
    // Width in pixels of aCount characters from aStart; 0 when aCount <= 0.
    virtual int getStringWidth(const OString& aText, int aStart, int aCount) const = 0;
    // How many of those characters, from the first, fit in aMaxWidth
    // (cumulative width <= aMaxWidth); 0 when aCount <= 0.
    virtual int getCharsThatFit(const OString& aText, int aStart, int aCount, int aMaxWidth) const = 0;
    virtual int getKind() const = 0;
};

class NativeFont : public CAppsFont {
public:
    // Pixel size of the system font, the same as the painters' font.
    static constexpr int kPixelSize = 40;

    NativeFont();
    int getAscent() const override { return metrics.ascent(); }
    int getHeight() const override { return metrics.height(); }
    int getStringWidth(const OString& aText, int aStart, int aCount) const override;
    int getCharsThatFit(const OString& aText, int aStart, int aCount, int aMaxWidth) const override;
    int getKind() const override { return KNativeFont; }

private:
    QFont font;
    QFontMetrics metrics;
};

// A new system font for a size code (0, 1 and 2 give the same font; any
// other code raises code 6 "Unknown font size"); returns its box.
Addr newSystemFont(VMHeap& aHeap, int aSizeCode);
// A new bitmap font decoded from image file bytes; returns its box, or 0
// when the bytes are not an image.
Addr newBitmapFont(VMHeap& aHeap, const uint8_t* aBytes, int64_t aCount);
// The font a font operand (a box) holds: the box is null-checked; a box
// holding 0 gives null; a word that names no font raises code 10.
CAppsFont* fontOf(VMHeap& aHeap, Addr aBox);

}  // namespace vm
