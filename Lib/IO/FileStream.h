// Streams over stdio files: buffered, and stdio's end-of-file and error
// indicators give exactly the results the stream operations promise. Closed
// (no handle, open flag false) until a successful open(); closed again by
// close() or destruction.
#pragma once

#include <cstdio>

#include "../Containers/CAppsString.h"
#include "Stream.h"

namespace KELVAR {

class FileInputStream : public InputStream {
public:
    FileInputStream() = default;
    ~FileInputStream() override;

    // Opens the path (separators converted, low byte of every unit) with "rb";
    // a directory is refused. An empty path opens nothing; any other failure
    // calls onError(). Opening an open stream first closes its current file.
    // Returns isOpen().
    TBool open(const CAppsString& aPath);
    TBool open(const unsigned short* aUnits, int aCount);

    TInt32 readByte() override;
    TBool read(TUint8* aBuffer, TUint32 aCount) override;
    // Sizes and offsets beyond 2^31 - 1 count as failures.
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool setPosition(TInt32 aOffset) override;
    TBool isEof() override;
    void close() override;

private:
    std::FILE* iFile = nullptr;
};

class FileOutputStream : public OutputStream {
public:
    FileOutputStream() = default;
    ~FileOutputStream() override;

    // Fails at once (touching nothing) for an empty or a relative path.
    // Creates the missing directories of the parent path, then opens the file
    // with "wb" (created or truncated). Returns isOpen().
    TBool open(const CAppsString& aPath);
    TBool open(const unsigned short* aUnits, int aCount);
    // As open(), but an existing file keeps its bytes: it is opened for
    // update ("r+b") with the position at its end, so writing continues after
    // the old content (size and position start at the old size). A missing
    // file is created as by open(). Returns isOpen().
    TBool openForUpdate(const CAppsString& aPath);
    // Hands buffered bytes to the system; false when that fails.
    TBool flush();

    TBool writeByte(TInt32 aValue) override;
    TBool write(const TUint8* aBuffer, TUint32 aCount) override;
    TInt32 streamSize() override;
    TInt32 position() override;
    TBool setPosition(TInt32 aOffset) override;
    TBool close() override;

private:
    TBool openWith(const CAppsString& aPath, bool aKeepContent);

    std::FILE* iFile = nullptr;
};

}  // namespace KELVAR
