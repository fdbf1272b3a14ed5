// Stateless path and file-system functions on UTF-16 paths.
//
// Unless noted, a function converts separators first and fails (false) for an
// empty or a relative path; otherwise it returns the platform call's success.
//
// Paths reach the operating system as the low byte of each code unit. A path
// holding a NUL unit or a unit above 0xFF is refused (false): narrowing would
// truncate it or alias it to another name ("\u012E\u012E" to ".."), after the
// host checked the wide form. The Qt-backed functions also refuse a path whose
// bytes Qt cannot hand to the system unchanged (bytes that are not UTF-8), so
// they and the stdio streams always name the same file. Listed names come back
// the same way: one unit per byte of the name on disk.
#pragma once

#include <string>

#include "../Containers/CAppsString.h"

namespace Kelvar {
class DateTime;
}

class FileUtility {
public:
    FileUtility() = delete;

    // Every "\" becomes "/" where the platform separator is "/", and the
    // reverse where it is "\".
    static CAppsString convertSeparators(const CAppsString& aPath);
    // After separator conversion: true unless the path starts with the
    // separator (an empty path is relative).
    static TBool isRelative(const CAppsString& aPath);
    // The directory part as QFileInfo::path() reports it ("." for a bare
    // name); empty for an empty path. No relative-path test.
    static CAppsString parentPath(const CAppsString& aPath);
    // A file or a directory of that name exists. No relative-path test.
    static TBool fileExists(const CAppsString& aPath);
    static TBool directoryExists(const CAppsString& aPath);
    // Creates the directory and every missing parent; true if it exists after.
    static TBool makePath(const CAppsString& aPath);
    static TBool deleteFile(const CAppsString& aPath);
    // Deletes the listed files (the first failure ends with false), removes the
    // listed subdirectories the same way (failures ignored), then the directory
    // itself; the result is that last removal's. Hidden entries and symbolic
    // links are never listed, so a directory holding any cannot be removed;
    // links are never followed.
    static TBool removeDirectory(const CAppsString& aPath);
    // Creates the target's directory when missing, then moves the file.
    static TBool moveFile(const CAppsString& aSource, const CAppsString& aTarget);
    static TBool moveDirectory(const CAppsString& aSource, const CAppsString& aTarget);
    // Clears aNames; when the directory exists, appends the names of its plain
    // files (listDirectories: subdirectories), without symbolic links and names
    // starting with ".", unsorted in the platform's order. Returns whether the
    // directory exists.
    static TBool listFiles(const CAppsString& aPath, Vec<CAppsString>& aNames);
    static TBool listDirectories(const CAppsString& aPath, Vec<CAppsString>& aNames);
    // aDirectory + separator (unless it ends in "/" or "\") + aName without one
    // leading "/" or "\"; either part alone when the other is empty.
    static CAppsString joinPath(const CAppsString& aDirectory, const CAppsString& aName);
    // When the file (or directory) exists: aDateTime := its last
    // modification time in UTC, true. Otherwise false, aDateTime unchanged.
    static TBool getFileDateTime(const CAppsString& aPath, Kelvar::DateTime& aDateTime);

    // The bytes a path reaches the system as: separators converted, the low
    // byte of every unit. False (aOut cleared) for an empty path or one holding
    // a NUL unit or a unit above 0xFF.
    static TBool nativePath(const CAppsString& aPath, std::string& aOut);
    static TBool nativePath(const unsigned short* aUnits, int aCount, std::string& aOut);
};
