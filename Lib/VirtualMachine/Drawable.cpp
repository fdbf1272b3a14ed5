#include "Drawable.h"

#include <typeinfo>

#include "BitmapContainer.h"
#include "GraphicsContainer.h"
#include "VMError.h"

namespace vm {

namespace {

Addr createDrawable(VMHeap& aHeap, int32_t aKind, Addr aGraphics, Addr aBitmap)
{
    Addr record = aHeap.alloc(DrawableLayout::kSize, 0, GC_CODE_DRAWABLE);
    VMSpace& space = aHeap.space();
    space.setRawWord(record + DrawableLayout::kKind, aKind);
    space.setRawWord(record + DrawableLayout::kGraphics, Word(aGraphics));
    space.setRawWord(record + DrawableLayout::kBitmap, Word(aBitmap));
    return record;
}

Word field(VMHeap& aHeap, Addr aDrawable, uint32_t aOffset)
{
    return aHeap.space().loadWord(aDrawable + aOffset);
}

// The container a record's graphics word names; 0 gives null.
GraphicsContainer* containerAt(VMHeap& aHeap, Addr aBlock)
{
    if (aBlock == 0)
        return nullptr;
    GraphicsContainer* container = aHeap.objectAs<GraphicsContainer>(aBlock);
    if (!container)
        raiseVmError(KErrVm, "Invalid object");
    return container;
}

}  // namespace

Addr createGraphicsDrawable(VMHeap& aHeap, Addr aContainer)
{
    return createDrawable(aHeap, KDrawableGraphics, aContainer, 0);
}

Addr createBitmapDrawable(VMHeap& aHeap, Addr aBitmap)
{
    return createDrawable(aHeap, KDrawableBitmap, 0, aBitmap);
}

int32_t drawableKind(VMHeap& aHeap, Addr aDrawable)
{
    return field(aHeap, aDrawable, DrawableLayout::kKind);
}

GraphicsContainer* getGraphics(VMHeap& aHeap, Addr aDrawable)
{
    int32_t kind = drawableKind(aHeap, aDrawable);
    if (kind != KDrawableGraphics && kind != KDrawableBitmap)
        raiseVmError(KErrVm, "Invalid object type ID");
    Addr graphics = Addr(field(aHeap, aDrawable, DrawableLayout::kGraphics));
    if (kind == KDrawableGraphics || graphics != 0)
        return containerAt(aHeap, graphics);

    // A bitmap without a container: open one on its pixels and keep it. A
    // bitmap record without pixels gets none (drawing on it does nothing).
    Addr bitmap = Addr(field(aHeap, aDrawable, DrawableLayout::kBitmap));
    if (bitmap == 0)
        return nullptr;
    BitmapContainer* owner = aHeap.objectAs<BitmapContainer>(bitmap);
    if (!owner)
        return nullptr;
    std::shared_ptr<QPixmap> pixmap = owner->pixmapForPainting();
    Addr block = aHeap.construct<GraphicsContainer>(GraphicsContainer::kBlockSize, GC_CODE_NATIVE, pixmap);
    aHeap.space().storeWord(aDrawable + DrawableLayout::kGraphics, Word(block));
    return aHeap.objectAs<GraphicsContainer>(block);
}

Addr getBitmap(VMHeap& aHeap, Addr aDrawable)
{
    if (drawableKind(aHeap, aDrawable) != KDrawableBitmap)
        raiseVmError(KErrVm, "Invalid typeid on bitmap");
    return Addr(field(aHeap, aDrawable, DrawableLayout::kBitmap));
}

void setBitmap(VMHeap& aHeap, Addr aDrawable, Addr aBitmap)
{
    if (drawableKind(aHeap, aDrawable) != KDrawableBitmap)
        raiseVmError(KErrVm);
    aHeap.space().storeWord(aDrawable + DrawableLayout::kBitmap, Word(aBitmap));
}

BitmapContainer* bitmapOf(VMHeap& aHeap, Addr aDrawable)
{
    Addr bitmap = getBitmap(aHeap, aDrawable);
    if (bitmap == 0)
        return nullptr;
    // An exact type test: far cheaper than a dynamic cast on every pixel.
    HostObject* object = aHeap.objectAt(bitmap);
    return object && typeid(*object) == typeid(BitmapContainer) ? static_cast<BitmapContainer*>(object) : nullptr;
}

void releaseGraphics(VMHeap& aHeap, Addr aDrawable)
{
    if (drawableKind(aHeap, aDrawable) != KDrawableBitmap)
        raiseVmError(KErrVm, "Invalid bitmap handle");
    Addr graphics = Addr(field(aHeap, aDrawable, DrawableLayout::kGraphics));
    if (graphics == 0)
        return;
    if (GraphicsContainer* container = aHeap.objectAs<GraphicsContainer>(graphics))
        container->end();
    aHeap.space().storeWord(aDrawable + DrawableLayout::kGraphics, 0);
}

}  // namespace vm
