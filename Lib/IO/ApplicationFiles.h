// The files of the running application: every path a program names goes
// through the path rule below, then the operation is carried out with
// FileUtility and the file streams. The host forwards its file services here.
//
// Path rule. A path is refused (the operation gives 0, false or null and
// touches nothing) when it is empty, holds "..", ":" or "|", or holds a unit
// that cannot reach the system unchanged (NUL, or above 0xFF, whose low byte
// could alias another name). Otherwise separators are converted, every "//"
// is collapsed to "/", and the result is joined to the application
// directory: a leading "/" stays inside it. Finally the path must stay inside
// the directory once symbolic links are followed: the deepest part of it that
// exists (the path itself, or the nearest existing parent) is resolved, and
// a path that leads out of the directory, or through a link that leads
// nowhere or loops, is refused. Bytecode cannot make links; links that
// someone put into the directory may point within it.
#pragma once

#include "../Containers/CAppsString.h"
#include "../Containers/OString.h"
#include "../Containers/Vec.h"

namespace KELVAR {
class InputStream;
class OutputStream;
}  // namespace KELVAR

class ApplicationFiles {
public:
    explicit ApplicationFiles(const CAppsString& aDirectory) : iDirectory(aDirectory) {}

    const CAppsString& directory() const { return iDirectory; }
    // The path rule; true and the absolute path when the path is accepted.
    bool resolvePath(const OString& aPath, CAppsString& aResolved) const;

    // A file input stream opened with "rb", or null.
    KELVAR::InputStream* openInputStream(const OString& aPath) const;
    // A file output stream, or null. aTruncate 1 empties the file; otherwise
    // an existing file keeps its bytes and writing continues after them.
    // Missing parent directories are created.
    KELVAR::OutputStream* openOutputStream(const OString& aPath, int aTruncate) const;
    int deleteFile(const OString& aPath) const;
    int fileExists(const OString& aPath) const;
    // Never replaces an existing target (the move then fails).
    int moveFile(const OString& aFrom, const OString& aTo) const;
    // Files into aFiles, subdirectories into aDirectories; on failure both
    // lists are left as they were.
    int listDirectory(const OString& aPath, Vec<OString>& aFiles, Vec<OString>& aDirectories) const;
    int createDirectory(const OString& aPath) const;
    int deleteDirectory(const OString& aPath) const;
    int moveDirectory(const OString& aFrom, const OString& aTo) const;
    int directoryExists(const OString& aPath) const;

private:
    bool staysInside(const CAppsString& aResolved) const;

    CAppsString iDirectory;
};
