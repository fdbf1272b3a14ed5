// Graphics group: drawing through the container of a graphics object.
// Screen group: logical screen size, orientation and repaint requests.
//
// A graphics or bitmap operand is a reference whose first word is a Drawable
// record (Drawable.h), a font operand a box naming a font block; a record or
// font word of 0 draws nothing. A bitmap used as a source has its own
// painter ended first (releaseGraphics), and only then is the target's
// container looked up, so a record drawn into itself never reads a bitmap
// with a painter open on it.
#include <QString>
#include <QtGlobal>
#include <string>

#include "BitmapContainer.h"
#include "CAppsFont.h"
#include "Drawable.h"
#include "GraphicsContainer.h"
#include "KelvarFont.h"
#include "ORaw.h"
#include "ObjectModel.h"
#include "RangeCheck.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

// The Drawable record of a graphics operand: null-checked; 0 when empty.
Addr recordOf(VMHeap& aHeap, Word aGraphics)
{
    return Addr(aHeap.space().loadWord(nullCheck(Addr(aGraphics))));
}

// The container a graphics operand draws through, or null.
GraphicsContainer* targetOf(VMHeap& aHeap, Word aGraphics)
{
    Addr record = recordOf(aHeap, aGraphics);
    return record ? getGraphics(aHeap, record) : nullptr;
}

// A bitmap operand about to be drawn from a target.
struct Source {
    GraphicsContainer* target = nullptr;
    BitmapContainer* bitmap = nullptr;
};

// Ends the source's painting, then finds the target. No target when either
// record is empty or the target has nothing to draw on. A source without
// pixels warns "Null BitmapContainer" unless aQuiet.
Source sourceAndTarget(VMHeap& aHeap, Word aGraphics, Word aBitmap, bool aQuiet = false)
{
    Addr targetRecord = recordOf(aHeap, aGraphics);
    Addr sourceRecord = recordOf(aHeap, aBitmap);
    if (targetRecord == 0 || sourceRecord == 0)
        return {};
    releaseGraphics(aHeap, sourceRecord);
    Source found{getGraphics(aHeap, targetRecord), bitmapOf(aHeap, sourceRecord)};
    if (found.target && !found.bitmap) {
        if (!aQuiet)
            qWarning("Null BitmapContainer");
        found.target = nullptr;
    }
    return found;
}

const QPixmap& pixmapOf(BitmapContainer& aBitmap)
{
    return *aBitmap.pixmapForPainting();
}

double fixedAt(VirtualMachine& aVm, int aLowIndex)
{
    return ORaw::toReal(ORaw::fromWords(aVm.arg(aLowIndex), aVm.arg(aLowIndex - 1)));
}

// Text of `count` units from `start` (range-checked) in the font: the system
// font through the container's own font, a bitmap font glyph by glyph.
void drawString(VirtualMachine& aVm, Word aGraphics, Word aString, TInt32 aStart, TInt32 aCount, Word aX,
                       Word aY, Word aColour, Word aFont)
{
    VMHeap& heap = aVm.heap();
    Addr record = recordOf(heap, aGraphics);
    const OString& text = stringOf(heap, Addr(aString));
    Addr fontBlock = unbox(heap, nullCheck(Addr(aFont)));
    ResolvedRange range = resolveRange(0, text.length(), aStart, aCount);
    if (record == 0 || fontBlock == 0)
        return;
    CAppsFont* font = heap.objectAs<CAppsFont>(fontBlock);
    int kind = font ? font->getKind() : -1;
    if (kind != CAppsFont::KNativeFont && kind != CAppsFont::KKelvarFont)
        raiseVmError(KErrInvalidArgument, "Draw string: invalid font type");
    GraphicsContainer* target = getGraphics(heap, record);
    if (!target || range.length == 0)  // an empty range may start past the end
        return;
    std::u16string_view units = text.view().substr(size_t(range.first), size_t(range.length));
    if (kind == CAppsFont::KNativeFont)
        target->drawText(QString(reinterpret_cast<const QChar*>(units.data()), qsizetype(units.size())), aX, aY,
                         TUint32(aColour));
    else
        target->drawGlyphs(static_cast<KelvarFont&>(*font), units, aX, aY, TUint32(aColour));
}

}  // namespace

void VirtualMachine::graphicsNative(int function)
{
    switch (function) {
    case 1: {  // graphics, bitmap, x, y, alpha
        Word graphics = arg(4), bitmap = arg(3), x = arg(2), y = arg(1), alpha = arg(0);
        nullCheck(Addr(graphics));
        nullCheck(Addr(bitmap));
        pop(5);
        if (graphics == bitmap)
            return;
        Source s = sourceAndTarget(*heap_, graphics, bitmap, true);
        if (s.target)
            s.target->drawBitmap(pixmapOf(*s.bitmap), x, y, alpha);
        return;
    }
    case 2: {  // graphics, string, x, y, colour, font
        Word graphics = arg(5), string = arg(4), x = arg(3), y = arg(2), colour = arg(1), font = arg(0);
        pop(6);
        drawString(*this, graphics, string, 0, -1, x, y, colour, font);
        return;
    }
    case 3: {  // graphics, string, start, count, x, y, colour, font
        Word graphics = arg(7), string = arg(6), start = arg(5), count = arg(4);
        Word x = arg(3), y = arg(2), colour = arg(1), font = arg(0);
        pop(8);
        drawString(*this, graphics, string, start, count, x, y, colour, font);
        return;
    }
    case 4: {  // graphics, x, y, width, height, colour
        GraphicsContainer* target = targetOf(*heap_, arg(5));
        Word x = arg(4), y = arg(3), width = arg(2), height = arg(1), colour = arg(0);
        pop(6);
        if (target)
            target->fillRect(x, y, width, height, TUint32(colour));
        return;
    }
    case 5: {  // graphics, x1, y1, x2, y2, colour
        GraphicsContainer* target = targetOf(*heap_, arg(5));
        Word x1 = arg(4), y1 = arg(3), x2 = arg(2), y2 = arg(1), colour = arg(0);
        pop(6);
        if (target)
            target->drawLine(x1, y1, x2, y2, TUint32(colour));
        return;
    }
    case 6: {  // graphics, bitmap, x, y, width, height, offsetX, offsetY, alpha (ignored)
        Word graphics = arg(8), bitmap = arg(7), x = arg(6), y = arg(5), width = arg(4), height = arg(3);
        Word offsetX = arg(2), offsetY = arg(1);
        pop(9);
        Source s = sourceAndTarget(*heap_, graphics, bitmap);
        if (s.target)
            s.target->tileBitmap(x, y, width, height, pixmapOf(*s.bitmap), offsetX, offsetY);
        return;
    }
    case 7: {  // graphics, bitmap, x, y, sourceX, sourceY, sourceWidth, sourceHeight, alpha
        Word graphics = arg(8), bitmap = arg(7), x = arg(6), y = arg(5);
        Word sourceX = arg(4), sourceY = arg(3), sourceWidth = arg(2), sourceHeight = arg(1), alpha = arg(0);
        pop(9);
        Source s = sourceAndTarget(*heap_, graphics, bitmap);
        if (s.target)
            s.target->drawBitmapPart(pixmapOf(*s.bitmap), x, y, sourceX, sourceY, sourceWidth, sourceHeight, alpha);
        return;
    }
    case 8: {  // graphics, colour: clear
        Addr record = recordOf(*heap_, arg(1));
        TUint32 colour = TUint32(arg(0));
        pop(2);
        if (record == 0)
            return;
        if (drawableKind(*heap_, record) == KDrawableBitmap) {
            // A bitmap's pixels are replaced, not blended: its painter is
            // closed first and the bitmap fills itself.
            releaseGraphics(*heap_, record);
            if (BitmapContainer* bitmap = bitmapOf(*heap_, record))
                bitmap->fill(colour);
            return;
        }
        if (GraphicsContainer* target = getGraphics(*heap_, record))
            target->clear(colour);
        return;
    }
    case 9:  // graphics, vector, vector, object, value: checked, nothing drawn
        for (int k = 4; k >= 1; --k)
            nullCheck(Addr(arg(k)));
        pop(5);
        return;
    case 10: {  // graphics, bitmap, x, y, angle, scaleX, scaleY (fixed, two words each), alpha
        Word graphics = arg(10), bitmap = arg(9), x = arg(8), y = arg(7), alpha = arg(0);
        double angle = fixedAt(*this, 6), scaleX = fixedAt(*this, 4), scaleY = fixedAt(*this, 2);
        pop(11);
        Source s = sourceAndTarget(*heap_, graphics, bitmap);
        if (s.target)
            s.target->drawBitmapTransformed(pixmapOf(*s.bitmap), x, y, angle, scaleX, scaleY, alpha);
        return;
    }
    default:
        unknownNativeFunction("Graphics:");
    }
}

void VirtualMachine::screenNative(int function)
{
    if (function < 1 || function > 8 || !host_)
        unknownNativeFunction("Screen:");
    FrameworkServices& host = *host_;
    switch (function) {
    case 1: {  // repaint the whole logical screen
        int width = 0, height = 0;
        host.getScreenSize(width, height);
        host.repaint(0, 0, width, height);
        return;
    }
    case 2: {  // -> width, height
        int width = 0, height = 0;
        host.getScreenSize(width, height);
        push(width);
        push(height);
        return;
    }
    case 3: {
        int mode = arg(0);
        pop(1);
        host.setOrientation(mode);
        return;
    }
    case 4:
        push(host.getOrientation());
        return;
    case 5: {
        bool flag = arg(0) != 0;
        pop(1);
        host.setScreenFlag(flag);
        return;
    }
    case 6: {  // x, y, width, height
        int x = arg(3), y = arg(2), width = arg(1), height = arg(0);
        pop(4);
        host.repaint(x, y, width, height);
        return;
    }
    case 7: {  // listener: kept alive while registered
        Word listener = arg(0);
        pop(1);
        host.addScreenListener(listener);
        heap_->addRoot(Addr(listener));
        return;
    }
    case 8: {
        Word listener = arg(0);
        pop(1);
        host.removeScreenListener(listener);
        heap_->removeRoot(Addr(listener));
        return;
    }
    }
}

}  // namespace vm
