#include "MemoryStream.h"

#include <climits>
#include <cstring>
#include <new>

namespace KELVAR {

// ---------------------------------------------------------------------------
// MemoryInputStream

TInt32 MemoryInputStream::readByte()
{
    if (iPosition >= TUint32(iBuffer.count())) {
        onError();
        return -1;
    }
    return iBuffer.data()[iPosition++];
}

TBool MemoryInputStream::read(TUint8* aBuffer, TUint32 aCount)
{
    const TUint32 length = TUint32(iBuffer.count());
    // 64-bit sum: a position moved far past the end must not wrap around.
    if (aCount > length || TUint64(iPosition) + aCount > length) {
        onError();
        iPosition = length;
        return false;
    }
    if (aCount > 0)
        std::memcpy(aBuffer, iBuffer.data() + iPosition, aCount);
    iPosition += aCount;
    return true;
}

TBool MemoryInputStream::setPosition(TInt32 aOffset)
{
    iPosition = TUint32(aOffset);
    return iPosition < TUint32(iBuffer.count());
}

void MemoryInputStream::setBuffer(const TUint8* aBuffer, TUint32 aCount)
{
    if (aCount > 0)
        KELVAR_ASSERT(aBuffer);
    KELVAR_ASSERT(aCount <= TUint32(INT_MAX));
    iBuffer.clear();
    if (aCount > 0) {
        iBuffer.resize(int(aCount));
        std::memcpy(iBuffer.data(), aBuffer, aCount);
    }
    iPosition = 0;
    iOpen = true;
}

void MemoryInputStream::setBuffer(const Vec<TUint8>& aBuffer)
{
    if (&aBuffer == &iBuffer) {
        iPosition = 0;
        iOpen = true;
        return;
    }
    setBuffer(aBuffer.data(), TUint32(aBuffer.count()));
}

// ---------------------------------------------------------------------------
// MemoryOutputStream

MemoryOutputStream::MemoryOutputStream() : iBuffer(new Vec<TUint8>()), iOwnsBuffer(true)
{
    iOpen = true;
}

MemoryOutputStream::MemoryOutputStream(Vec<TUint8>* aBuffer) : iBuffer(aBuffer), iOwnsBuffer(false)
{
    if (!iBuffer) {
        iBuffer = new Vec<TUint8>();
        iOwnsBuffer = true;
    }
    iOpen = true;
}

MemoryOutputStream::~MemoryOutputStream()
{
    close();
}

TBool MemoryOutputStream::writeByte(TInt32 aValue)
{
    if (!iOpen || !iBuffer || iPosition < 0)
        return false;
    const TInt32 length = iBuffer->count();
    if (iPosition > length)
        return false;
    if (iPosition == length) {
        if (length == INT_MAX)
            return false;
        try {
            iBuffer->append(TUint8(aValue));
        } catch (const std::bad_alloc&) {
            return false;
        }
    } else {
        iBuffer->data()[iPosition] = TUint8(aValue);
    }
    ++iPosition;
    return isOpen();
}

TBool MemoryOutputStream::write(const TUint8* aBuffer, TUint32 aCount)
{
    for (TUint32 i = 0; i < aCount; ++i)
        if (!writeByte(aBuffer[i]))
            return false;
    return true;
}

TBool MemoryOutputStream::setPosition(TInt32 aOffset)
{
    iPosition = aOffset;
    return aOffset >= 0 && aOffset <= streamSize();
}

TBool MemoryOutputStream::close()
{
    iOpen = false;
    if (iOwnsBuffer) {
        delete iBuffer;
        iBuffer = nullptr;
        iOwnsBuffer = false;
    }
    return true;
}

}  // namespace KELVAR
