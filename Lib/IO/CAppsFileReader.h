// CAppsFileReader: owns one input stream and adds typed reads. Every
// operation returns false (or 0) when the reader has no stream; none throws.
// Integers are big-endian. Lives in a heap block or on the host stack.
#pragma once

#include <cstdint>
#include <memory>

#include "../Containers/CAppsString.h"
#include "../VirtualMachine/GCObject.h"
#include "Stream.h"

class OString;

class CAppsFileReader : public vm::GCObject {
public:
    // Opens a FileInputStream on the path; the stream stays attached when the
    // open fails, so isOpen() then reports false.
    explicit CAppsFileReader(const CAppsString& aFileName);
    // Adopts aStream (may be null).
    explicit CAppsFileReader(KELVAR::InputStream* aStream);
    // Reads a copy of aCount bytes at aBuffer (null allowed for aCount 0).
    CAppsFileReader(const TUint8* aBuffer, TUint32 aCount);
    ~CAppsFileReader() override;
    CAppsFileReader(const CAppsFileReader&) = delete;
    CAppsFileReader& operator=(const CAppsFileReader&) = delete;

    const CAppsString& fileName() const { return iFileName; }
    KELVAR::InputStream* stream() const { return iStream.get(); }

    TBool readByte(TUint8& aValue);
    TBool read(TUint8* aBuffer, TUint32 aCount);
    // Appends aCount bytes. Needs an open stream; 0 succeeds without reading,
    // a negative count or an overflowing length fails. On failure the vector
    // is cut back to its old length. Memory grows with the data actually
    // read, not with aCount, so an absurd count cannot exhaust the host.
    TBool readBytes(Vec<signed char>& aVector, TInt32 aCount);
    TBool readBytes(Vec<unsigned char>& aVector, TInt32 aCount);
    // readBytes of streamSize() - position() bytes.
    TBool readRemaining(Vec<signed char>& aVector);
    TBool readRemaining(Vec<unsigned char>& aVector);
    // Clears the string; false at end of data. Reads up to end of data, LF or
    // CR; after a CR one more byte is read and dropped (the LF of CR LF, or
    // whatever follows a lone CR). Bytes >= 32 become units, other control
    // bytes are dropped.
    TBool readLine(OString& aString);
    TBool readLine(CAppsString& aString);
    // Replaces the string by aCount bytes, one unit (0..255) per byte. False
    // for aCount < 0 and when the bytes are not all there; the string is then
    // left as it was.
    TBool readString(OString& aString, TInt32 aCount);
    TBool readString(CAppsString& aString, TInt32 aCount);
    TBool readInt16(int16_t& aValue);
    TBool readInt32(TInt32& aValue);
    TBool readInt64(TInt64& aValue);

    TInt32 position();
    TBool setPosition(TInt32 aOffset);
    // As setPosition, but refuses a negative offset.
    TBool setPositionNonNegative(TInt32 aOffset);
    TInt32 streamSize();
    TBool isEof();  // true without a stream
    TBool isOpen() const;
    // Destroys the stream (closing its file).
    void close();

private:
    template <typename T>
    TBool readInto(Vec<T>& aVector, TInt32 aCount);
    template <typename T>
    TBool readRemainingInto(Vec<T>& aVector);
    // The line's units; false at end of data.
    TBool readLineUnits(std::u16string& aUnits);
    TBool readBigEndian(int aBytes, uint64_t& aValue);

    CAppsString iFileName;
    std::unique_ptr<KELVAR::InputStream> iStream;
};
