#include "CAppsFileReader.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string>

#include "../Containers/OString.h"
#include "FileStream.h"
#include "MemoryStream.h"

CAppsFileReader::CAppsFileReader(const CAppsString& aFileName) : iFileName(aFileName)
{
    auto stream = std::make_unique<KELVAR::FileInputStream>();
    stream->open(aFileName);
    iStream = std::move(stream);
}

CAppsFileReader::CAppsFileReader(KELVAR::InputStream* aStream) : iStream(aStream) {}

CAppsFileReader::CAppsFileReader(const TUint8* aBuffer, TUint32 aCount)
    : iStream(std::make_unique<KELVAR::MemoryInputStream>(aBuffer, aCount))
{
}

CAppsFileReader::~CAppsFileReader() = default;

TBool CAppsFileReader::readByte(TUint8& aValue)
{
    if (!iStream)
        return false;
    TInt32 value = iStream->readByte();
    if (value < 0)
        return false;
    aValue = TUint8(value);
    return true;
}

TBool CAppsFileReader::read(TUint8* aBuffer, TUint32 aCount)
{
    return iStream && iStream->read(aBuffer, aCount);
}

template <typename T>
TBool CAppsFileReader::readInto(Vec<T>& aVector, TInt32 aCount)
{
    static_assert(sizeof(T) == 1);
    if (!isOpen())
        return false;
    if (aCount == 0)
        return true;
    const int old = aVector.count();
    if (aCount < 0 || aCount > INT_MAX - old)
        return false;
    // The first step takes everything when the stream holds it (one read, as
    // large as asked); beyond that, steps double with the data really read.
    const TInt64 available = TInt64(iStream->streamSize()) - iStream->position();
    TInt64 step = std::min<TInt64>(aCount, std::max<TInt64>(available, 1 << 16));
    int done = 0;
    try {
        while (done < aCount) {
            const int chunk = int(std::min<TInt64>(aCount - done, step));
            const int at = old + done;
            aVector.resize(at + chunk);
            if (!iStream->read(reinterpret_cast<TUint8*>(aVector.data() + at), TUint32(chunk))) {
                aVector.resize(old);
                return false;
            }
            done += chunk;
            step = std::max<TInt64>(step, done);
        }
    } catch (const std::bad_alloc&) {
        aVector.resize(old);
        return false;
    }
    return true;
}

template <typename T>
TBool CAppsFileReader::readRemainingInto(Vec<T>& aVector)
{
    if (!iStream)
        return false;
    const TInt64 remaining = TInt64(iStream->streamSize()) - iStream->position();
    if (remaining < 0 || remaining > INT_MAX)
        return false;
    return readInto(aVector, TInt32(remaining));
}

TBool CAppsFileReader::readBytes(Vec<signed char>& aVector, TInt32 aCount)
{
    return readInto(aVector, aCount);
}

TBool CAppsFileReader::readBytes(Vec<unsigned char>& aVector, TInt32 aCount)
{
    return readInto(aVector, aCount);
}

TBool CAppsFileReader::readRemaining(Vec<signed char>& aVector)
{
    return readRemainingInto(aVector);
}

TBool CAppsFileReader::readRemaining(Vec<unsigned char>& aVector)
{
    return readRemainingInto(aVector);
}

TBool CAppsFileReader::readLineUnits(std::u16string& aUnits)
{
    aUnits.clear();
    if (!iStream || iStream->isEof())
        return false;
    for (;;) {
        TInt32 byte = iStream->readByte();
        if (byte == -1 || byte == '\n')
            break;
        if (byte == '\r') {
            iStream->readByte();
            break;
        }
        if (byte >= 32)
            aUnits.push_back(char16_t(byte));
    }
    return true;
}

// The OString forms fail (never throw) when the text cannot be made; the
// error that refused it is not left pending.
TBool CAppsFileReader::readLine(OString& aString)
{
    try {
        aString.clear();
        std::u16string units;
        if (!readLineUnits(units))
            return false;
        aString = OString(std::u16string_view(units));
        return true;
    } catch (const vm::ErrorHandlingException&) {
        vm::clearPendingError();
    } catch (const std::bad_alloc&) {
    }
    return false;
}

TBool CAppsFileReader::readLine(CAppsString& aString)
{
    try {
        aString.clear();
        std::u16string units;
        if (!readLineUnits(units))
            return false;
        aString = CAppsString(std::u16string_view(units));
        return true;
    } catch (const std::bad_alloc&) {
    }
    return false;
}

TBool CAppsFileReader::readString(OString& aString, TInt32 aCount)
{
    Vec<unsigned char> bytes;
    if (aCount < 0 || !readInto(bytes, aCount))
        return false;
    try {
        aString = aCount == 0 ? OString() : OString::fromLatin1(reinterpret_cast<const char*>(bytes.data()), aCount);
        return true;
    } catch (const vm::ErrorHandlingException&) {
        vm::clearPendingError();
    } catch (const std::bad_alloc&) {
    }
    return false;
}

TBool CAppsFileReader::readString(CAppsString& aString, TInt32 aCount)
{
    Vec<unsigned char> bytes;
    if (aCount < 0 || !readInto(bytes, aCount))
        return false;
    try {
        CAppsString text;
        text.resize(aCount);
        for (int i = 0; i < aCount; ++i)
            text.data()[i] = bytes.data()[i];
        aString.swap(text);
        return true;
    } catch (const std::bad_alloc&) {
    }
    return false;
}

TBool CAppsFileReader::readBigEndian(int aBytes, uint64_t& aValue)
{
    TUint8 bytes[8];
    if (!iStream || !iStream->read(bytes, TUint32(aBytes)))
        return false;
    aValue = 0;
    for (int i = 0; i < aBytes; ++i)
        aValue = (aValue << 8) | bytes[i];
    return true;
}

TBool CAppsFileReader::readInt16(int16_t& aValue)
{
    uint64_t value;
    if (!readBigEndian(2, value))
        return false;
    aValue = int16_t(uint16_t(value));
    return true;
}

TBool CAppsFileReader::readInt32(TInt32& aValue)
{
    uint64_t value;
    if (!readBigEndian(4, value))
        return false;
    aValue = TInt32(TUint32(value));
    return true;
}

TBool CAppsFileReader::readInt64(TInt64& aValue)
{
    uint64_t value;
    if (!readBigEndian(8, value))
        return false;
    aValue = TInt64(value);
    return true;
}

TInt32 CAppsFileReader::position()
{
    return iStream ? iStream->position() : 0;
}

TBool CAppsFileReader::setPosition(TInt32 aOffset)
{
    return iStream && iStream->setPosition(aOffset);
}

TBool CAppsFileReader::setPositionNonNegative(TInt32 aOffset)
{
    return aOffset >= 0 && setPosition(aOffset);
}

TInt32 CAppsFileReader::streamSize()
{
    return iStream ? iStream->streamSize() : 0;
}

TBool CAppsFileReader::isEof()
{
    return !iStream || iStream->isEof();
}

TBool CAppsFileReader::isOpen() const
{
    return iStream && iStream->isOpen();
}

void CAppsFileReader::close()
{
    iStream.reset();
}
