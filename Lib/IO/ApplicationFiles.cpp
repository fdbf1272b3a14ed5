#include "ApplicationFiles.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>

#include <sys/stat.h>

#include "FileStream.h"
#include "FileUtility.h"

namespace {

// The real path of an existing path (links followed), or "" when it cannot
// be had (a dangling or looping link).
std::string realPath(const std::string& aPath)
{
    char* real = ::realpath(aPath.c_str(), nullptr);
    if (!real)
        return std::string();
    std::string result(real);
    std::free(real);
    return result;
}

bool isWithin(const std::string& aPath, const std::string& aBase)
{
    if (aBase == "/")
        return true;
    return aPath == aBase || (aPath.size() > aBase.size() && aPath.compare(0, aBase.size(), aBase) == 0 &&
                              aPath[aBase.size()] == '/');
}

}  // namespace

bool ApplicationFiles::resolvePath(const OString& aPath, CAppsString& aResolved) const
{
    std::u16string_view units = aPath.view();
    if (units.empty() || units.find(u"..") != std::u16string_view::npos ||
        units.find(u':') != std::u16string_view::npos || units.find(u'|') != std::u16string_view::npos)
        return false;
    for (char16_t unit : units)
        if (unit == 0 || unit > 0xFF)
            return false;
    CAppsString path = FileUtility::convertSeparators(CAppsString(units));
    const CAppsString doubled("//"), single("/");
    while (path.replace(doubled, single) > 0) {
    }
    CAppsString resolved = FileUtility::joinPath(iDirectory, path);
    if (!staysInside(resolved))
        return false;
    aResolved = resolved;
    return true;
}

bool ApplicationFiles::staysInside(const CAppsString& aResolved) const
{
    std::string path, directory;
    if (!FileUtility::nativePath(aResolved, path) || !FileUtility::nativePath(iDirectory, directory))
        return false;
    std::string base = realPath(directory);
    if (base.empty())
        return false;
    // The deepest part that exists (a link counts, even a dangling one).
    struct stat info;
    while (::lstat(path.c_str(), &info) != 0) {
        if (errno != ENOENT && errno != ENOTDIR)
            return false;
        size_t slash = path.find_last_of('/');
        if (slash == std::string::npos || slash == 0)
            return false;
        path.resize(slash);
    }
    std::string real = realPath(path);
    return !real.empty() && isWithin(real, base);
}

KELVAR::InputStream* ApplicationFiles::openInputStream(const OString& aPath) const
{
    CAppsString resolved;
    if (!resolvePath(aPath, resolved))
        return nullptr;
    auto stream = std::make_unique<KELVAR::FileInputStream>();
    return stream->open(resolved) ? stream.release() : nullptr;
}

KELVAR::OutputStream* ApplicationFiles::openOutputStream(const OString& aPath, int aTruncate) const
{
    CAppsString resolved;
    if (!resolvePath(aPath, resolved))
        return nullptr;
    auto stream = std::make_unique<KELVAR::FileOutputStream>();
    // Without truncation the file is opened for update: its bytes stay in
    // place and writing continues after them (never truncated and rewritten,
    // so no failure can lose them).
    bool open = aTruncate == 1 ? stream->open(resolved) : stream->openForUpdate(resolved);
    return open ? stream.release() : nullptr;
}

int ApplicationFiles::deleteFile(const OString& aPath) const
{
    CAppsString resolved;
    return resolvePath(aPath, resolved) && FileUtility::fileExists(resolved) && FileUtility::deleteFile(resolved);
}

int ApplicationFiles::fileExists(const OString& aPath) const
{
    CAppsString resolved;
    return resolvePath(aPath, resolved) && FileUtility::fileExists(resolved);
}

int ApplicationFiles::moveFile(const OString& aFrom, const OString& aTo) const
{
    CAppsString source, target;
    return resolvePath(aFrom, source) && resolvePath(aTo, target) && FileUtility::moveFile(source, target);
}

int ApplicationFiles::listDirectory(const OString& aPath, Vec<OString>& aFiles, Vec<OString>& aDirectories) const
{
    CAppsString resolved;
    if (!resolvePath(aPath, resolved))
        return 0;
    Vec<CAppsString> fileNames, directoryNames;
    if (!FileUtility::listFiles(resolved, fileNames) || !FileUtility::listDirectories(resolved, directoryNames))
        return 0;
    for (const CAppsString& name : fileNames)
        aFiles.append(OString(name));
    for (const CAppsString& name : directoryNames)
        aDirectories.append(OString(name));
    return 1;
}

int ApplicationFiles::createDirectory(const OString& aPath) const
{
    CAppsString resolved;
    return resolvePath(aPath, resolved) && FileUtility::makePath(resolved);
}

int ApplicationFiles::deleteDirectory(const OString& aPath) const
{
    CAppsString resolved;
    return resolvePath(aPath, resolved) && FileUtility::removeDirectory(resolved);
}

int ApplicationFiles::moveDirectory(const OString& aFrom, const OString& aTo) const
{
    CAppsString source, target;
    return resolvePath(aFrom, source) && resolvePath(aTo, target) && FileUtility::moveDirectory(source, target);
}

int ApplicationFiles::directoryExists(const OString& aPath) const
{
    CAppsString resolved;
    return resolvePath(aPath, resolved) && FileUtility::directoryExists(resolved);
}
