// Bitmap group: creating, loading, reading, resizing and encoding bitmaps.
//
// A target operand is the object being initialised: a new kind-2 Drawable
// is stored in its first word. A bitmap operand is an object whose first
// word is its Drawable; every function but 8 ends the painting on it first
// (releaseGraphics), which also refuses records of another kind. A record
// whose bitmap word is 0 has no pixels.
#include <memory>
#include <string>
#include <vector>

#include "../Containers/OVector.h"
#include "BitmapContainer.h"
#include "BitmapLoading.h"
#include "CAppsFont.h"
#include "Drawable.h"
#include "IO/Stream.h"
#include "ObjectModel.h"
#include "RangeCheck.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

[[noreturn]] void invalid(const std::string& aMessage)
{
    raiseVmError(KErrInvalidArgument, aMessage);
}

std::string joined(std::initializer_list<int64_t> aNumbers)
{
    std::string text;
    for (int64_t n : aNumbers) {
        if (!text.empty())
            text += ", ";
        text += std::to_string(n);
    }
    return text;
}

// A requested size: no side negative; a bitmap with pixels within the limits.
void checkSize(Word aWidth, Word aHeight)
{
    if (aWidth < 0)
        invalid("Width should be non-negative");
    if (aHeight < 0)
        invalid("Height should be non-negative");
    if (aWidth != 0 && aHeight != 0 && !BitmapContainer::sizeAllowed(aWidth, aHeight))
        invalid("Bitmap too large");
}

// A new bitmap block of the size filled with the colour.
Addr newFilledBitmap(VMHeap& aHeap, Word aWidth, Word aHeight, TUint32 aColour)
{
    Addr block = aHeap.construct<BitmapContainer>(BitmapContainer::kBlockSize, GC_CODE_NATIVE, aWidth, aHeight);
    aHeap.objectAs<BitmapContainer>(block)->fill(aColour);
    return block;
}

Addr newBitmapBlock(VMHeap& aHeap, std::unique_ptr<BitmapContainer> aBitmap)
{
    Addr block = aHeap.alloc(BitmapContainer::kBlockSize, -1, GC_CODE_NATIVE);
    aHeap.attach(block, aBitmap.release());
    return block;
}

// The Drawable record of a bitmap operand (null-checked).
Addr recordOf(VMHeap& aHeap, Word aBitmap)
{
    return Addr(aHeap.space().loadWord(nullCheck(Addr(aBitmap))));
}

// The record of a bitmap operand about to be used, its painting ended.
Addr releasedRecord(VMHeap& aHeap, Word aBitmap)
{
    Addr record = recordOf(aHeap, aBitmap);
    releaseGraphics(aHeap, record);
    return record;
}

void storeRecord(VMHeap& aHeap, Word aTarget, Addr aRecord)
{
    aHeap.space().storeWord(nullCheck(Addr(aTarget)), Word(aRecord));
}

std::string positionText(Word aX, Word aY)
{
    return "Position (" + joined({aX, aY}) + ")";
}

// Position checks of pixel access; messages name the position and size. The
// message for a bitmap without pixels is the caller's (made only then).
template <typename EmptyMessage>
void checkPosition(BitmapContainer* aBitmap, Word aX, Word aY, EmptyMessage aEmptyMessage)
{
    if (!aBitmap) [[unlikely]]
        invalid(aEmptyMessage());
    QSize size = aBitmap->getSize();
    if (aX < 0 || aY < 0 || aX >= size.width() || aY >= size.height()) [[unlikely]]
        invalid(positionText(aX, aY) + " is outside the bounds of the bitmap: (" +
                joined({size.width(), size.height()}) + ")");
}

// Resize: a record with pixels is rescaled (or emptied by a zero side); one
// without gets black pixels of the size.
void resize(VMHeap& aHeap, Word aBitmap, Word aWidth, Word aHeight, int aMode)
{
    Addr record = releasedRecord(aHeap, aBitmap);
    checkSize(aWidth, aHeight);
    BitmapContainer* old = bitmapOf(aHeap, record);
    bool empty = aWidth == 0 || aHeight == 0;
    if (!old) {
        if (!empty)
            setBitmap(aHeap, record, newFilledBitmap(aHeap, aWidth, aHeight, 0xFF000000));
        return;
    }
    if (empty) {
        setBitmap(aHeap, record, 0);
        return;
    }
    if (old->getSize() == QSize(aWidth, aHeight))
        return;
    Addr block = aHeap.construct<BitmapContainer>(BitmapContainer::kBlockSize, GC_CODE_NATIVE, aWidth, aHeight);
    aHeap.objectAs<BitmapContainer>(block)->scaleFrom(*old, aMode);
    setBitmap(aHeap, record, block);
}

// Largest image file read: twice an uncompressed image of the largest
// bitmap.
constexpr TInt32 kMaxImageFileBytes = TInt32(BitmapContainer::kMaxPixels * 4 * 2);

const char* formatName(Word aFormat)
{
    switch (aFormat) {
    case 1:
        return "jpg";
    case 2:
        return "png";
    case 3:
        return "gif";
    case 4:
        return "bmp";
    default:
        return "";
    }
}

// A record of the image in the bytes, stored in the target; undecodable
// bytes raise "Could not load image".
void storeDecoded(VMHeap& aHeap, Word aTarget, const uint8_t* aBytes, int64_t aCount)
{
    Addr record = newBitmapRecord(aHeap, aBytes, aCount);
    if (record == 0)
        invalid("Could not load image");
    storeRecord(aHeap, aTarget, record);
}

}  // namespace

Addr newBitmapRecord(VMHeap& aHeap, const uint8_t* aBytes, int64_t aCount)
{
    QImage image;
    if (!decodeImage(aBytes, aCount, image))
        return 0;
    Addr block = newBitmapBlock(aHeap, std::make_unique<BitmapContainer>(QPixmap::fromImage(std::move(image))));
    return createBitmapDrawable(aHeap, block);
}

Word LoadBitmapFromFile(VirtualMachine& aVm, const OString& aPath, TBool aAsFont)
{
    if (aPath.isEmpty())
        raiseVmError(KErrInvalidArgument, "Filename is empty");
    FrameworkServices* host = aVm.host();
    std::unique_ptr<KELVAR::InputStream> stream(host ? host->openInputStream(aPath, 0) : nullptr);
    if (!stream)
        raiseVmError(KErrIO, u"Could not open file: " + aPath.toU16());
    TInt32 size = stream->streamSize();
    if (size == 0)
        raiseVmError(KErrInvalidArgument, "File is empty");
    if (size < 0)
        raiseVmError(KErrIO);
    if (size > kMaxImageFileBytes)  // no image within the bitmap limits is this large
        return 0;
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    // The file may change under the reader: a short read, or a size that
    // differs afterwards, is an I/O error.
    if (!stream->read(bytes.data(), TUint32(size)) || stream->streamSize() != size)
        raiseVmError(KErrIO);
    stream.reset();
    VMHeap& heap = aVm.heap();
    return Word(aAsFont ? newBitmapFont(heap, bytes.data(), size) : newBitmapRecord(heap, bytes.data(), size));
}

void VirtualMachine::bitmapNative(int function)
{
    requireGraphics();
    VMHeap& heap = *heap_;
    switch (function) {
    case 1: {  // target, width, height, colour
        Word target = arg(3), width = arg(2), height = arg(1);
        TUint32 colour = TUint32(arg(0));
        nullCheck(Addr(target));
        checkSize(width, height);
        pop(4);
        Addr block = width != 0 && height != 0 ? newFilledBitmap(heap, width, height, colour) : 0;
        storeRecord(heap, target, createBitmapDrawable(heap, block));
        return;
    }
    case 2: {  // target, bitmap, x, y, width, height
        Word target = arg(5), x = arg(3), y = arg(2), width = arg(1), height = arg(0);
        nullCheck(Addr(target));
        BitmapContainer* source = bitmapOf(heap, releasedRecord(heap, arg(4)));
        pop(6);
        std::string rectangle = "Source rectangle (" + joined({x, y, width, height}) + ")";
        Addr block = 0;
        if (!source) {
            if (x != 0 || y != 0 || width != 0 || height != 0)
                invalid(rectangle + " should be inside the bounds of the source bitmap, the bitmap is empty");
        } else {
            QSize size = source->getSize();
            if (x < 0 || y < 0 || width < 0 || height < 0 || int64_t(x) + width > size.width() ||
                int64_t(y) + height > size.height())
                invalid(rectangle + " should be inside the bounds of the source bitmap: (" +
                        joined({size.width(), size.height()}) + ")");
            if (int64_t(width) * height != 0) {
                block = heap.construct<BitmapContainer>(BitmapContainer::kBlockSize, GC_CODE_NATIVE, QPixmap());
                heap.objectAs<BitmapContainer>(block)->copyFrom(*source, QRect(x, y, width, height));
            }
        }
        storeRecord(heap, target, createBitmapDrawable(heap, block));
        return;
    }
    case 3: {  // target, path
        Word target = arg(1);
        nullCheck(Addr(target));
        OString path = stringOf(heap, Addr(arg(0)));
        pop(2);
        Addr record = Addr(LoadBitmapFromFile(*this, path, EFalse));
        if (record == 0)
            invalid("Could not load image");
        storeRecord(heap, target, record);
        return;
    }
    case 4: {  // target, byte array
        Word target = arg(1);
        nullCheck(Addr(target));
        OVector bytes = OVector::ofHolder(heap, Addr(arg(0)), 1);
        pop(2);
        if (bytes.isEmpty())
            invalid("byte[] is empty");
        storeDecoded(heap, target, bytes.data(), bytes.count());
        return;
    }
    case 5: {  // target, byte array, start, count
        Word target = arg(3);
        nullCheck(Addr(target));
        OVector bytes = OVector::ofHolder(heap, Addr(arg(2)), 1);
        ResolvedRange range = resolveRange(0, bytes.count(), arg(1), arg(0));
        pop(4);
        if (range.length == 0)
            invalid("size is zero");
        storeDecoded(heap, target, bytes.data() + range.first, range.length);
        return;
    }
    case 6: {  // target, bitmap: a copy
        Word target = arg(1);
        nullCheck(Addr(target));
        BitmapContainer* source = bitmapOf(heap, releasedRecord(heap, arg(0)));
        pop(2);
        Addr block = source ? newBitmapBlock(heap, BitmapContainer::copyOf(*source)) : 0;
        storeRecord(heap, target, createBitmapDrawable(heap, block));
        return;
    }
    case 7: {  // bitmap, x, y -> colour
        BitmapContainer* bitmap = bitmapOf(heap, releasedRecord(heap, arg(2)));
        Word x = arg(1), y = arg(0);
        checkPosition(bitmap, x, y,
                      [&] { return positionText(x, y) + " is outside the bounds of the bitmap, the bitmap is empty"; });
        pop(2);
        arg(0) = Word(bitmap->getPixel(x, y));
        return;
    }
    case 8: {  // bitmap -> width, height
        BitmapContainer* bitmap = bitmapOf(heap, recordOf(heap, arg(0)));
        QSize size = bitmap ? bitmap->getSize() : QSize(0, 0);
        arg(0) = size.width();
        push(size.height());
        return;
    }
    case 9: {  // bitmap, x, y, colour
        BitmapContainer* bitmap = bitmapOf(heap, releasedRecord(heap, arg(3)));
        Word x = arg(2), y = arg(1);
        TUint32 colour = TUint32(arg(0));
        checkPosition(bitmap, x, y,
                      [] { return std::string("Position is outside the bounds of the bitmap: the bitmap is empty"); });
        pop(4);
        bitmap->setPixel(x, y, colour);
        return;
    }
    case 10:
    case 11:
    case 12: {  // bitmap, width, height: fast (10, 11) or smooth (12) scaling
        Word bitmap = arg(2), width = arg(1), height = arg(0);
        pop(3);
        resize(heap, bitmap, width, height, function == 12 ? 10 : 0);
        return;
    }
    case 13: {  // bitmap, format -> the image file's bytes (none without pixels)
        BitmapContainer* bitmap = bitmapOf(heap, releasedRecord(heap, arg(1)));
        const char* format = formatName(arg(0));
        if (host_)
            host_->frameworkOperation32(false);
        QByteArray encoded;
        if (bitmap)
            bitmap->encode(encoded, format);
        Addr array = newByteVector(heap, encoded.constData(), size_t(encoded.size()));
        if (host_)
            host_->frameworkOperation32(true);
        pop(1);
        arg(0) = Word(array);
        return;
    }
    default:
        unknownNativeFunction("Bitmap:");
    }
}

}  // namespace vm
