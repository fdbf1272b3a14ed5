#include "FileUtility.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include "../VirtualMachine/DateTime.h"

namespace {

QString toQString(const CAppsString& aPath)
{
    return QString(reinterpret_cast<const QChar*>(aPath.data()), aPath.count());
}

CAppsString fromQString(const QString& aText)
{
    return CAppsString(reinterpret_cast<const unsigned short*>(aText.utf16()), int(aText.size()));
}

// The QString under which Qt reaches exactly the bytes of nativePath(). False
// for an empty path, for bytes Qt would alter and, unless aAllowRelative, for
// a relative path. A relative path gets "./" so that Qt never takes a leading
// ":" for its resource system.
bool toQtPath(const CAppsString& aPath, QString& aOut, bool aAllowRelative = false)
{
    std::string bytes;
    if (!FileUtility::nativePath(aPath, bytes))
        return false;
    if (bytes[0] != '/') {
        if (!aAllowRelative)
            return false;
        bytes.insert(0, "./");
    }
    QByteArray encoded(bytes.data(), qsizetype(bytes.size()));
    aOut = QFile::decodeName(encoded);
    return QFile::encodeName(aOut) == encoded;
}

// A listed name as units: one per byte of its on-disk form.
CAppsString fromQtName(const QString& aName)
{
    QByteArray bytes = QFile::encodeName(aName);
    return CAppsString(bytes.constData(), int(bytes.size()));
}

TBool listEntries(const CAppsString& aPath, Vec<CAppsString>& aNames, QDir::Filters aFilter)
{
    aNames.clear();
    QString path;
    if (!toQtPath(aPath, path) || !QFileInfo(path).isDir())
        return false;
    // Without QDir::Hidden and QDir::System: no dot entries, no sockets,
    // fifos or devices; NoSymLinks drops links of either kind.
    const QStringList names = QDir(path).entryList(aFilter | QDir::NoSymLinks | QDir::NoDotAndDotDot, QDir::NoSort);
    for (const QString& name : names) {
        if (name.isEmpty() || name.startsWith(QLatin1Char('.')))
            continue;
        aNames.append(fromQtName(name));
    }
    return true;
}

}  // namespace

CAppsString FileUtility::convertSeparators(const CAppsString& aPath)
{
    CAppsString result(aPath);
    const QChar separator = QDir::separator();
    unsigned short from, to;
    if (separator == QLatin1Char('/')) {
        from = '\\';
        to = '/';
    } else if (separator == QLatin1Char('\\')) {
        from = '/';
        to = '\\';
    } else {
        KELVAR_ASSERT(false);
    }
    for (unsigned short& unit : result)
        if (unit == from)
            unit = to;
    return result;
}

TBool FileUtility::isRelative(const CAppsString& aPath)
{
    // Only a leading separator makes a path absolute; Qt's own test would also
    // take ":..." (its resource system) as absolute.
    CAppsString path = convertSeparators(aPath);
    return path.isEmpty() || path[0] != QDir::separator().unicode();
}

CAppsString FileUtility::parentPath(const CAppsString& aPath)
{
    if (aPath.isEmpty())
        return CAppsString();
    return fromQString(QFileInfo(toQString(convertSeparators(aPath))).path());
}

TBool FileUtility::fileExists(const CAppsString& aPath)
{
    QString path;
    return toQtPath(aPath, path, true) && QFileInfo::exists(path);
}

TBool FileUtility::directoryExists(const CAppsString& aPath)
{
    QString path;
    return toQtPath(aPath, path) && QFileInfo(path).isDir();
}

TBool FileUtility::makePath(const CAppsString& aPath)
{
    QString path;
    return toQtPath(aPath, path) && QDir().mkpath(path);
}

TBool FileUtility::deleteFile(const CAppsString& aPath)
{
    QString path;
    return toQtPath(aPath, path) && QFile::remove(path);
}

TBool FileUtility::removeDirectory(const CAppsString& aPath)
{
    if (!directoryExists(aPath))
        return false;
    CAppsString directory = convertSeparators(aPath);
    Vec<CAppsString> names;
    listFiles(directory, names);
    for (const CAppsString& name : names)
        if (!deleteFile(joinPath(directory, name)))
            return false;
    listDirectories(directory, names);
    for (const CAppsString& name : names)
        removeDirectory(joinPath(directory, name));
    QString path;
    return toQtPath(directory, path) && QDir().rmdir(path);
}

TBool FileUtility::moveFile(const CAppsString& aSource, const CAppsString& aTarget)
{
    QString source, target;
    if (!toQtPath(aSource, source) || !toQtPath(aTarget, target))
        return false;
    CAppsString parent = parentPath(aTarget);
    if (!directoryExists(parent) && !makePath(parent))
        return false;
    return QFile::rename(source, target);
}

TBool FileUtility::moveDirectory(const CAppsString& aSource, const CAppsString& aTarget)
{
    QString source, target;
    if (!toQtPath(aSource, source) || !toQtPath(aTarget, target))
        return false;
    return QDir().rename(source, target);
}

TBool FileUtility::listFiles(const CAppsString& aPath, Vec<CAppsString>& aNames)
{
    return listEntries(aPath, aNames, QDir::Files);
}

TBool FileUtility::listDirectories(const CAppsString& aPath, Vec<CAppsString>& aNames)
{
    return listEntries(aPath, aNames, QDir::Dirs);
}

CAppsString FileUtility::joinPath(const CAppsString& aDirectory, const CAppsString& aName)
{
    if (aDirectory.isEmpty())
        return aName;
    if (aName.isEmpty())
        return aDirectory;
    CAppsString result(aDirectory);
    unsigned short last = aDirectory.last();
    if (last != '/' && last != '\\')
        result += QDir::separator().unicode();
    int skip = (aName[0] == '/' || aName[0] == '\\') ? 1 : 0;
    result.appendPart(aName, skip, aName.count() - skip);
    return result;
}

TBool FileUtility::getFileDateTime(const CAppsString& aPath, Kelvar::DateTime& aDateTime)
{
    QString path;
    if (!toQtPath(aPath, path))
        return false;
    QFileInfo info(path);
    QDateTime modified = info.exists() ? info.lastModified() : QDateTime();
    if (!modified.isValid())
        return false;
    aDateTime = Kelvar::DateTime::fromPlatform(modified.toUTC());
    return true;
}

TBool FileUtility::nativePath(const CAppsString& aPath, std::string& aOut)
{
    return nativePath(aPath.data(), aPath.count(), aOut);
}

TBool FileUtility::nativePath(const unsigned short* aUnits, int aCount, std::string& aOut)
{
    aOut.clear();
    if (!aUnits || aCount <= 0)
        return false;
    const unsigned short from = QDir::separator() == QLatin1Char('/') ? '\\' : '/';
    const char to = char(QDir::separator().toLatin1());
    aOut.reserve(size_t(aCount));
    for (int i = 0; i < aCount; ++i) {
        unsigned short unit = aUnits[i];
        if (unit == 0 || unit > 0xFF) {
            aOut.clear();
            return false;
        }
        aOut.push_back(unit == from ? to : char(unit));
    }
    return true;
}
