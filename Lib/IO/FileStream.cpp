#include "FileStream.h"

#include <cerrno>
#include <climits>
#include <string>

#include <sys/stat.h>

#include "FileUtility.h"

namespace KELVAR {

namespace {

// The file's length, restoring the current offset. False on any failing step
// or a length beyond TInt32.
bool lengthOf(std::FILE* aFile, TInt32& aLength)
{
    long here = std::ftell(aFile);
    if (here < 0 || std::fseek(aFile, 0, SEEK_END) != 0)
        return false;
    long end = std::ftell(aFile);
    if (std::fseek(aFile, here, SEEK_SET) != 0 || end < 0 || end > INT32_MAX)
        return false;
    aLength = TInt32(end);
    return true;
}

bool offsetOf(std::FILE* aFile, TInt32& aOffset)
{
    long here = std::ftell(aFile);
    if (here < 0 || here > INT32_MAX)
        return false;
    aOffset = TInt32(here);
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------
// FileInputStream

FileInputStream::~FileInputStream()
{
    close();
}

TBool FileInputStream::open(const CAppsString& aPath)
{
    return open(aPath.data(), aPath.count());
}

TBool FileInputStream::open(const unsigned short* aUnits, int aCount)
{
    close();
    if (aCount <= 0)
        return false;
    std::string path;
    if (FileUtility::nativePath(aUnits, aCount, path))
        iFile = std::fopen(path.c_str(), "rb");
    // stdio opens a directory for reading; its "size" is meaningless.
    struct stat info;
    if (iFile && (fstat(fileno(iFile), &info) != 0 || S_ISDIR(info.st_mode))) {
        std::fclose(iFile);
        iFile = nullptr;
    }
    iOpen = iFile != nullptr;
    if (!iOpen)
        onError();
    return isOpen();
}

TInt32 FileInputStream::readByte()
{
    int c = iFile ? std::fgetc(iFile) : EOF;
    if (c == EOF) {
        onError();
        return -1;
    }
    return TInt32(TUint8(c));
}

TBool FileInputStream::read(TUint8* aBuffer, TUint32 aCount)
{
    if (!iFile) {
        onError();
        return false;
    }
    if (aCount == 0)
        return true;
    if (std::fread(aBuffer, 1, aCount, iFile) != aCount) {
        onError();
        return false;
    }
    return true;
}

TInt32 FileInputStream::streamSize()
{
    TInt32 length = 0;
    if (!iFile || !lengthOf(iFile, length)) {
        onError();
        return 0;
    }
    return length;
}

TInt32 FileInputStream::position()
{
    TInt32 offset = 0;
    if (!iFile || !offsetOf(iFile, offset)) {
        onError();
        return 0;
    }
    return offset;
}

TBool FileInputStream::setPosition(TInt32 aOffset)
{
    if (!iFile || streamSize() < aOffset || std::fseek(iFile, aOffset, SEEK_SET) != 0) {
        onError();
        return false;
    }
    return true;
}

TBool FileInputStream::isEof()
{
    if (!iFile)
        return true;
    return position() == streamSize();
}

void FileInputStream::close()
{
    iOpen = false;
    if (iFile) {
        std::fclose(iFile);
        iFile = nullptr;
    }
}

// ---------------------------------------------------------------------------
// FileOutputStream

FileOutputStream::~FileOutputStream()
{
    close();
}

TBool FileOutputStream::open(const CAppsString& aPath)
{
    return openWith(aPath, false);
}

TBool FileOutputStream::openForUpdate(const CAppsString& aPath)
{
    return openWith(aPath, true);
}

TBool FileOutputStream::openWith(const CAppsString& aPath, bool aKeepContent)
{
    close();
    if (aPath.isEmpty() || FileUtility::isRelative(aPath))
        return false;
    std::string path;
    if (!FileUtility::nativePath(aPath, path))
        return false;
    CAppsString parent = FileUtility::parentPath(aPath);
    if (!FileUtility::directoryExists(parent) && !FileUtility::makePath(parent))
        return false;
    if (aKeepContent) {
        // Never truncated: the old bytes stay in place and writing goes on
        // after them.
        iFile = std::fopen(path.c_str(), "r+b");
        if (iFile && std::fseek(iFile, 0, SEEK_END) != 0) {
            std::fclose(iFile);
            iFile = nullptr;
            return false;
        }
        if (!iFile && errno != ENOENT)
            return false;
    }
    if (!iFile)
        iFile = std::fopen(path.c_str(), "wb");
    iOpen = iFile != nullptr;
    return isOpen();
}

TBool FileOutputStream::open(const unsigned short* aUnits, int aCount)
{
    if (!aUnits || aCount <= 0)
        return open(CAppsString());
    return open(CAppsString(aUnits, aCount));
}

TBool FileOutputStream::flush()
{
    return iFile && std::fflush(iFile) == 0;
}

TBool FileOutputStream::writeByte(TInt32 aValue)
{
    if (!iFile)
        return false;
    std::fputc(TUint8(aValue), iFile);
    return !std::ferror(iFile);
}

TBool FileOutputStream::write(const TUint8* aBuffer, TUint32 aCount)
{
    if (!iFile)
        return false;
    if (aCount == 0)
        return true;
    return std::fwrite(aBuffer, 1, aCount, iFile) == aCount;
}

TInt32 FileOutputStream::streamSize()
{
    TInt32 length = 0;
    if (!iFile || !lengthOf(iFile, length))
        return 0;
    return length;
}

TInt32 FileOutputStream::position()
{
    TInt32 offset = 0;
    if (!iFile || !offsetOf(iFile, offset))
        return 0;
    return offset;
}

TBool FileOutputStream::setPosition(TInt32 aOffset)
{
    return iFile && streamSize() >= aOffset && std::fseek(iFile, aOffset, SEEK_SET) == 0;
}

TBool FileOutputStream::close()
{
    iOpen = false;
    if (!iFile)
        return true;
    bool delivered = !std::ferror(iFile);
    delivered = std::fclose(iFile) == 0 && delivered;
    iFile = nullptr;
    return delivered;
}

}  // namespace KELVAR
