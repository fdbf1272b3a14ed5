// CAppsFileWriter: owns one output stream and adds typed writes. Every
// operation returns false when the writer has no stream; none throws.
// Integers are big-endian. Lives in a heap block or on the host stack.
#pragma once

#include <cstdint>
#include <memory>

#include "../Containers/CAppsString.h"
#include "../VirtualMachine/GCObject.h"
#include "Stream.h"

class OString;

class CAppsFileWriter : public vm::GCObject {
public:
    // Opens a FileOutputStream on the path (see FileOutputStream::open); the
    // stream stays attached when the open fails.
    explicit CAppsFileWriter(const CAppsString& aFileName);
    // Adopts aStream (may be null).
    explicit CAppsFileWriter(KELVAR::OutputStream* aStream);
    ~CAppsFileWriter() override;
    CAppsFileWriter(const CAppsFileWriter&) = delete;
    CAppsFileWriter& operator=(const CAppsFileWriter&) = delete;

    const CAppsString& fileName() const { return iFileName; }
    KELVAR::OutputStream* stream() const { return iStream.get(); }

    TBool writeByte(TInt32 aValue);  // low 8 bits
    // A negative count fails (counts may come from bytecode).
    TBool writeByteBufferToFile(const TUint8* aData, TInt32 aNumberOfBytes);
    // aCount 0 succeeds at once; aStart < 0 fails; aCount < 0 means up to the
    // end; a range beyond the vector fails.
    TBool writeBytes(const Vec<signed char>& aVector, TInt32 aStart, TInt32 aCount);
    TBool writeBytes(const Vec<unsigned char>& aVector, TInt32 aStart, TInt32 aCount);
    // The low byte of every unit, as one block.
    TBool writeString(const OString& aString);
    TBool writeString(const CAppsString& aString);
    // writeString, then "\n"; true only if both succeed.
    TBool writeLine(const OString& aString);
    TBool writeLine(const CAppsString& aString);
    TBool writeInt16(int16_t aValue);
    TBool writeInt32(TInt32 aValue);
    TBool writeInt64(TInt64 aValue);

    TBool isOpen() const;
    // Destroys the stream (closing its file). False when data written earlier
    // could not be delivered; true without a stream.
    TBool close();

private:
    template <typename T>
    TBool writeRange(const Vec<T>& aVector, TInt32 aStart, TInt32 aCount);
    TBool writeUnits(const char16_t* aUnits, int aCount);
    TBool writeBigEndian(uint64_t aValue, int aBytes);

    CAppsString iFileName;
    std::unique_ptr<KELVAR::OutputStream> iStream;
};
