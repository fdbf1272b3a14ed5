// Graphics group: drawing through the container of a graphics object.
// Screen group: logical screen size, orientation and repaint requests.
//
// A graphics operand is a reference whose first word is a Drawable record
// (Drawable.h); a record word of 0 draws nothing. Drawing bitmaps and text
// (opcodes 1, 2, 3, 6, 7, 10) needs the Bitmap and Font groups.
#include <string>

#include "Drawable.h"
#include "GraphicsContainer.h"
#include "ObjectModel.h"
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

}  // namespace

void VirtualMachine::graphicsNative(int function)
{
    switch (function) {
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
            Addr bitmap = getBitmap(*heap_, record);
            if (bitmap != 0)
                if (PixmapOwner* owner = dynamic_cast<PixmapOwner*>(heap_->objectAt(bitmap)))
                    owner->fill(colour);
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
