#include "CAppsFileWriter.h"

#include <new>
#include <string>

#include "../Containers/OString.h"
#include "FileStream.h"

CAppsFileWriter::CAppsFileWriter(const CAppsString& aFileName) : iFileName(aFileName)
{
    auto stream = std::make_unique<KELVAR::FileOutputStream>();
    stream->open(aFileName);
    iStream = std::move(stream);
}

CAppsFileWriter::CAppsFileWriter(KELVAR::OutputStream* aStream) : iStream(aStream) {}

CAppsFileWriter::~CAppsFileWriter() = default;

TBool CAppsFileWriter::writeByte(TInt32 aValue)
{
    return iStream && iStream->writeByte(aValue);
}

TBool CAppsFileWriter::writeByteBufferToFile(const TUint8* aData, TInt32 aNumberOfBytes)
{
    if (!iStream || aNumberOfBytes < 0 || (!aData && aNumberOfBytes > 0))
        return false;
    return iStream->write(aData, TUint32(aNumberOfBytes));
}

template <typename T>
TBool CAppsFileWriter::writeRange(const Vec<T>& aVector, TInt32 aStart, TInt32 aCount)
{
    static_assert(sizeof(T) == 1);
    if (aCount == 0)
        return true;
    if (aStart < 0)
        return false;
    const TInt64 length = aVector.count();
    const TInt64 count = aCount < 0 ? length - aStart : aCount;
    if (count < 0 || aStart + count > length)
        return false;
    return writeByteBufferToFile(reinterpret_cast<const TUint8*>(aVector.data() + aStart), TInt32(count));
}

TBool CAppsFileWriter::writeBytes(const Vec<signed char>& aVector, TInt32 aStart, TInt32 aCount)
{
    return writeRange(aVector, aStart, aCount);
}

TBool CAppsFileWriter::writeBytes(const Vec<unsigned char>& aVector, TInt32 aStart, TInt32 aCount)
{
    return writeRange(aVector, aStart, aCount);
}

TBool CAppsFileWriter::writeUnits(const char16_t* aUnits, int aCount)
{
    if (!iStream)
        return false;
    try {
        std::string bytes(size_t(aCount), '\0');
        for (int i = 0; i < aCount; ++i)
            bytes[size_t(i)] = char(aUnits[i]);
        return iStream->write(reinterpret_cast<const TUint8*>(bytes.data()), TUint32(aCount));
    } catch (const std::bad_alloc&) {
        return false;
    }
}

TBool CAppsFileWriter::writeString(const OString& aString)
{
    std::u16string_view units = aString.view();
    return writeUnits(units.data(), int(units.size()));
}

TBool CAppsFileWriter::writeString(const CAppsString& aString)
{
    return writeUnits(reinterpret_cast<const char16_t*>(aString.data()), aString.count());
}

TBool CAppsFileWriter::writeLine(const OString& aString)
{
    return writeString(aString) && writeByte('\n');
}

TBool CAppsFileWriter::writeLine(const CAppsString& aString)
{
    return writeString(aString) && writeByte('\n');
}

TBool CAppsFileWriter::writeBigEndian(uint64_t aValue, int aBytes)
{
    TUint8 bytes[8];
    for (int i = aBytes - 1; i >= 0; --i) {
        bytes[i] = TUint8(aValue);
        aValue >>= 8;
    }
    return iStream && iStream->write(bytes, TUint32(aBytes));
}

TBool CAppsFileWriter::writeInt16(int16_t aValue)
{
    return writeBigEndian(uint16_t(aValue), 2);
}

TBool CAppsFileWriter::writeInt32(TInt32 aValue)
{
    return writeBigEndian(TUint32(aValue), 4);
}

TBool CAppsFileWriter::writeInt64(TInt64 aValue)
{
    return writeBigEndian(uint64_t(aValue), 8);
}

TBool CAppsFileWriter::isOpen() const
{
    return iStream && iStream->isOpen();
}

TBool CAppsFileWriter::close()
{
    if (!iStream)
        return true;
    TBool delivered = iStream->close();
    iStream.reset();
    return delivered;
}
