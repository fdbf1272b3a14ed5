#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>

#include "DateTime.h"
#include "IO/FileUtility.h"

namespace {

CAppsString cs(const std::string& aText)
{
    return CAppsString(std::string_view(aText));
}

std::vector<std::string> sorted(const Vec<CAppsString>& aNames)
{
    std::vector<std::string> r;
    for (const CAppsString& n : aNames)
        r.push_back(n.toLatin1());
    std::sort(r.begin(), r.end());
    return r;
}

bool exists(const std::string& aPath)
{
    return QFileInfo::exists(QString::fromStdString(aPath));
}

struct FileUtilityTest : ::testing::Test {
    QTemporaryDir tmp;
    std::string dir() const { return tmp.path().toStdString(); }
    void touch(const std::string& aRelative) { std::ofstream(dir() + "/" + aRelative) << "x"; }
    void mkdir(const std::string& aRelative) { QDir().mkpath(QString::fromStdString(dir() + "/" + aRelative)); }
};

}  // namespace

TEST_F(FileUtilityTest, PathText)
{
    EXPECT_EQ(FileUtility::convertSeparators(cs("a\\b/c")).toLatin1(), "a/b/c");
    EXPECT_TRUE(FileUtility::isRelative(cs("")));
    EXPECT_TRUE(FileUtility::isRelative(cs("a/b")));
    EXPECT_TRUE(FileUtility::isRelative(cs(":/res")));
    EXPECT_FALSE(FileUtility::isRelative(cs("\\abs")));
    EXPECT_FALSE(FileUtility::isRelative(cs("/abs")));

    EXPECT_EQ(FileUtility::joinPath(cs("/data/"), cs("/x.txt")).toLatin1(), "/data/x.txt");
    EXPECT_EQ(FileUtility::joinPath(cs("/data"), cs("x.txt")).toLatin1(), "/data/x.txt");
    EXPECT_EQ(FileUtility::joinPath(cs("/data\\"), cs("\\x.txt")).toLatin1(), "/data\\x.txt");
    EXPECT_EQ(FileUtility::joinPath(cs(""), cs("x.txt")).toLatin1(), "x.txt");
    EXPECT_EQ(FileUtility::joinPath(cs("/data"), cs("")).toLatin1(), "/data");
    EXPECT_EQ(FileUtility::joinPath(cs("/d"), cs("//x")).toLatin1(), "/d//x");  // one separator removed

    EXPECT_EQ(FileUtility::parentPath(cs("")).toLatin1(), "");
    EXPECT_EQ(FileUtility::parentPath(cs("/a/b/c.txt")).toLatin1(), "/a/b");
    EXPECT_EQ(FileUtility::parentPath(cs("\\a\\c.txt")).toLatin1(), "/a");
    EXPECT_EQ(FileUtility::parentPath(cs("/c.txt")).toLatin1(), "/");
    EXPECT_EQ(FileUtility::parentPath(cs("c.txt")).toLatin1(), ".");

    std::string bytes;
    CAppsString wide = cs("/a");
    wide += (unsigned short)0x2E2E;
    EXPECT_FALSE(FileUtility::nativePath(wide, bytes));
    EXPECT_TRUE(bytes.empty());
    EXPECT_FALSE(FileUtility::nativePath(CAppsString(), bytes));
    EXPECT_TRUE(FileUtility::nativePath(cs("/a\\b"), bytes));
    EXPECT_EQ(bytes, "/a/b");
}

TEST_F(FileUtilityTest, ExistenceAndCreation)
{
    touch("f");
    EXPECT_FALSE(FileUtility::fileExists(CAppsString()));
    EXPECT_TRUE(FileUtility::fileExists(cs(dir() + "/f")));
    EXPECT_TRUE(FileUtility::fileExists(cs(dir())));  // directories count
    EXPECT_FALSE(FileUtility::fileExists(cs(dir() + "/g")));
    EXPECT_FALSE(FileUtility::directoryExists(cs(dir() + "/f")));
    EXPECT_TRUE(FileUtility::directoryExists(cs(dir())));
    EXPECT_FALSE(FileUtility::directoryExists(CAppsString()));
    EXPECT_FALSE(FileUtility::directoryExists(cs(".")));  // relative

    EXPECT_TRUE(FileUtility::makePath(cs(dir() + "/m/n\\o")));
    EXPECT_TRUE(exists(dir() + "/m/n/o"));
    EXPECT_FALSE(FileUtility::makePath(cs("io_rel_probe/x")));
    EXPECT_FALSE(QDir("io_rel_probe").exists());

    EXPECT_TRUE(FileUtility::deleteFile(cs(dir() + "/f")));
    EXPECT_FALSE(exists(dir() + "/f"));
    EXPECT_FALSE(FileUtility::deleteFile(cs(dir() + "/f")));
    EXPECT_FALSE(FileUtility::deleteFile(cs(dir() + "/m")));  // not a file

    // A name that narrows to ".." is refused rather than aliased.
    CAppsString alias = cs(dir() + "/m/");
    alias += (unsigned short)0x012E;
    alias += (unsigned short)0x012E;
    EXPECT_FALSE(FileUtility::directoryExists(alias));
    EXPECT_FALSE(FileUtility::fileExists(alias));
}

TEST_F(FileUtilityTest, ListingSkipsHiddenEntriesAndLinks)
{
    touch("a.txt");
    touch(".hidden");
    mkdir("sub");
    mkdir(".hdir");
    QFile::link(QString::fromStdString(dir() + "/a.txt"), QString::fromStdString(dir() + "/link.txt"));
    QFile::link(QString::fromStdString(dir() + "/sub"), QString::fromStdString(dir() + "/linkdir"));

    Vec<CAppsString> names{cs("stale")};
    EXPECT_TRUE(FileUtility::listFiles(cs(dir()), names));
    EXPECT_EQ(sorted(names), std::vector<std::string>{"a.txt"});
    EXPECT_TRUE(FileUtility::listDirectories(cs(dir()), names));
    EXPECT_EQ(sorted(names), std::vector<std::string>{"sub"});

    EXPECT_FALSE(FileUtility::listFiles(cs(dir() + "/none"), names));
    EXPECT_TRUE(names.isEmpty());
    EXPECT_FALSE(FileUtility::listDirectories(cs(dir() + "/a.txt"), names));

    // Names come back byte for byte.
    std::ofstream(dir() + "/sub/\xC3\xA9") << "x";
    EXPECT_TRUE(FileUtility::listFiles(cs(dir() + "/sub"), names));
    ASSERT_EQ(names.count(), 1);
    EXPECT_EQ(names[0].toLatin1(), "\xC3\xA9");
    EXPECT_TRUE(FileUtility::fileExists(FileUtility::joinPath(cs(dir() + "/sub"), names[0])));
}

TEST_F(FileUtilityTest, MovingCreatesTargetDirectory)
{
    touch("f.txt");
    EXPECT_TRUE(FileUtility::moveFile(cs(dir() + "/f.txt"), cs(dir() + "/new/dir/f.txt")));
    EXPECT_TRUE(exists(dir() + "/new/dir/f.txt"));
    EXPECT_FALSE(exists(dir() + "/f.txt"));
    EXPECT_FALSE(FileUtility::moveFile(cs(dir() + "/f.txt"), cs(dir() + "/g.txt")));  // source gone
    EXPECT_FALSE(FileUtility::moveFile(cs("new/dir/f.txt"), cs(dir() + "/g.txt")));
    EXPECT_FALSE(FileUtility::moveFile(cs(dir() + "/new/dir/f.txt"), cs("g.txt")));
    EXPECT_FALSE(FileUtility::moveFile(CAppsString(), cs(dir() + "/g.txt")));

    EXPECT_TRUE(FileUtility::moveDirectory(cs(dir() + "/new"), cs(dir() + "/old")));
    EXPECT_TRUE(exists(dir() + "/old/dir/f.txt"));
    EXPECT_FALSE(FileUtility::moveDirectory(cs(dir() + "/new"), cs(dir() + "/x")));
    EXPECT_FALSE(FileUtility::moveDirectory(cs(dir() + "/old"), CAppsString()));
}

TEST_F(FileUtilityTest, RemoveDirectoryIsRecursiveButStopsAtHiddenEntries)
{
    mkdir("t/s/u");
    touch("t/1");
    touch("t/s/2");
    touch("t/s/u/3");
    EXPECT_TRUE(FileUtility::removeDirectory(cs(dir() + "/t")));
    EXPECT_FALSE(exists(dir() + "/t"));
    EXPECT_FALSE(FileUtility::removeDirectory(cs(dir() + "/t")));

    mkdir("h");
    touch("h/visible");
    touch("h/.hidden");
    EXPECT_FALSE(FileUtility::removeDirectory(cs(dir() + "/h")));
    EXPECT_FALSE(exists(dir() + "/h/visible"));
    EXPECT_TRUE(exists(dir() + "/h/.hidden"));

    // Links are not followed: what they point at survives.
    mkdir("outside");
    touch("outside/keep");
    mkdir("l");
    QFile::link(QString::fromStdString(dir() + "/outside"), QString::fromStdString(dir() + "/l/link"));
    EXPECT_FALSE(FileUtility::removeDirectory(cs(dir() + "/l")));
    EXPECT_TRUE(exists(dir() + "/outside/keep"));

    EXPECT_FALSE(FileUtility::removeDirectory(cs("h")));
}

TEST_F(FileUtilityTest, FileDateTimeIsTheModificationTimeInUtc)
{
    touch("f.txt");
    // 2010-03-05 07:08:09 UTC, set through the system, read back through Qt.
    struct timespec times[2] = {{1267772889, 0}, {1267772889, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir() + "/f.txt").c_str(), times, 0), 0);
    Kelvar::DateTime stamp(1, 1, 2000, 0, 0, 0, 0);
    EXPECT_TRUE(FileUtility::getFileDateTime(cs(dir() + "/f.txt"), stamp));
    EXPECT_EQ(stamp.toString().toLatin1(), "2010-03-05 07:08:09Z");

    Kelvar::DateTime untouched(1, 1, 2000, 0, 0, 0, 1);
    EXPECT_FALSE(FileUtility::getFileDateTime(cs(dir() + "/missing"), untouched));
    EXPECT_FALSE(FileUtility::getFileDateTime(cs("f.txt"), untouched));  // relative
    EXPECT_FALSE(FileUtility::getFileDateTime(cs(""), untouched));
    EXPECT_EQ(untouched.toString().toLatin1(), "2000-01-01 00:00:00Z");
}
