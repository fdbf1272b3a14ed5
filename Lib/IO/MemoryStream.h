// Streams over byte vectors.
#pragma once

#include "../Containers/Vec.h"
#include "Stream.h"

namespace KELVAR {

// Reads a private copy of its bytes. Closed until setBuffer().
class MemoryInputStream : public InputStream {
public:
    MemoryInputStream() = default;
    explicit MemoryInputStream(const Vec<TUint8>& aBuffer) { setBuffer(aBuffer); }
    MemoryInputStream(const TUint8* aBuffer, TUint32 aCount) { setBuffer(aBuffer, aCount); }

    TInt32 readByte() override;
    TBool read(TUint8* aBuffer, TUint32 aCount) override;
    TInt32 streamSize() override { return iBuffer.count(); }
    // The position is unsigned: a negative offset lands past the end and
    // reads back as the same TInt32.
    TInt32 position() override { return TInt32(iPosition); }
    // Moves even past the end; true only for a position inside the data.
    TBool setPosition(TInt32 aOffset) override;
    TBool isEof() override { return iPosition >= TUint32(iBuffer.count()); }
    void close() override {}

    // Replaces the bytes by a copy of aCount bytes at aBuffer, rewinds and
    // opens. aBuffer may be null only for aCount 0 (an empty vector's data).
    virtual void setBuffer(const TUint8* aBuffer, TUint32 aCount);
    virtual void setBuffer(const Vec<TUint8>& aBuffer);

private:
    Vec<TUint8> iBuffer;
    TUint32 iPosition = 0;
};

// Writes into a caller's vector (not owned) or into one of its own. Open from
// construction until close(), which releases an owned vector.
class MemoryOutputStream : public OutputStream {
public:
    MemoryOutputStream();
    explicit MemoryOutputStream(Vec<TUint8>* aBuffer);
    ~MemoryOutputStream() override;

    // At the end: appends; inside: overwrites. Fails when closed, past the end
    // or before the start (a negative position would write outside the data).
    TBool writeByte(TInt32 aValue) override;
    // Byte by byte; stops at, and reports, the first byte that fails.
    TBool write(const TUint8* aBuffer, TUint32 aCount) override;
    TInt32 streamSize() override { return iBuffer ? iBuffer->count() : 0; }
    TInt32 position() override { return iPosition < 0 ? 0 : iPosition; }
    // Moves even to an unwritable position; true only for 0..length.
    TBool setPosition(TInt32 aOffset) override;
    TBool close() override;

    // The vector written to; null after close() released an owned one.
    const Vec<TUint8>* buffer() const { return iBuffer; }

private:
    Vec<TUint8>* iBuffer;
    TInt32 iPosition = 0;
    bool iOwnsBuffer;
};

}  // namespace KELVAR
