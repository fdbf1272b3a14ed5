// Byte streams. No operation throws: failures are results (false, 0, -1).
// Failing input operations call onError() before returning their failure
// value; output operations never call it.
#pragma once

#include "../VirtualMachine/Types.h"

namespace KELVAR {

class Stream {
public:
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    virtual ~Stream() = default;

    virtual TBool isOpen() const { return iOpen; }
    // Called by each failing input operation; a subclass may count or log.
    virtual void onError() {}

protected:
    bool iOpen = false;
};

class InputStream : public Stream {
public:
    // 0..255, or -1 at end of data or on error.
    virtual TInt32 readByte() = 0;
    // True only when exactly aCount bytes were read into aBuffer.
    virtual TBool read(TUint8* aBuffer, TUint32 aCount) = 0;
    virtual TInt32 streamSize() = 0;
    virtual TInt32 position() = 0;
    virtual TBool setPosition(TInt32 aOffset) = 0;
    virtual TBool isEof() = 0;
    virtual void close() = 0;
};

class OutputStream : public Stream {
public:
    virtual TBool writeByte(TInt32 aValue) = 0;  // low 8 bits
    virtual TBool write(const TUint8* aBuffer, TUint32 aCount) = 0;
    virtual TInt32 streamSize() = 0;
    virtual TInt32 position() = 0;
    virtual TBool setPosition(TInt32 aOffset) = 0;
    // Returns false when data written earlier could not be delivered
    // (a failing final flush), so buffered output is never lost silently.
    virtual TBool close() = 0;
};

}  // namespace KELVAR
