// FileSystem group on a real application directory, and the path rule
// against hostile paths for every file operation that bytecode can reach.
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <vector>

#include "Containers/OVector.h"
#include "VmNativeFixture.h"

using namespace vm;

namespace {

using Pair = VmNativeFixture::Pair;

enum { WRITER = 22, READER = 24, FILESYSTEM = 25 };

const Pair kIo{7, "IOException"};

struct VmFileSystemNatives : VmNativeFixture {
    void file(const std::string& aName, const std::string& aData)
    {
        QDir().mkpath(QFileInfo(QString::fromStdString(host.path(aName))).path());
        spit(host.path(aName), aData);
    }
    void mkdir(const std::string& aName) { QDir().mkpath(QString::fromStdString(host.path(aName))); }
    bool exists(const std::string& aName) { return QFileInfo::exists(QString::fromStdString(host.path(aName))); }
    Word unicode(const std::u16string& aText) { return keep(newStringObject(heap(), OString(std::u16string_view(aText)))); }
    // The names in an array of strings, sorted.
    std::vector<std::string> names(Word aArray)
    {
        EXPECT_EQ(heap().gcCodeOf(Addr(aArray)), GC_CODE_OBJECT_ARRAY);
        Addr vector = Addr(load(aArray));
        Addr elements = Addr(load(Word(vector), 1));
        int count = load(Word(vector), 3);
        std::vector<std::string> result;
        for (int i = 0; i < count; ++i)
            result.push_back(text(load(Word(elements), i)));
        std::sort(result.begin(), result.end());
        return result;
    }
    Word fs(int aFunction, Word aPath, int aResults) { return callWith(FILESYSTEM, aFunction, {aPath}, aResults); }
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(VmFileSystemNatives, ExistenceTestsPushBooleansAndNeverRaise)
{
    file("a.txt", "a");
    mkdir("sub");
    EXPECT_EQ(fs(1, string("a.txt"), 1), -1);
    EXPECT_EQ(fs(1, string("sub"), 1), -1);  // a directory is a file name too
    EXPECT_EQ(fs(1, string("b.txt"), 1), 0);
    EXPECT_EQ(fs(1, string(""), 1), 0);
    EXPECT_EQ(fs(1, string("a..txt"), 1), 0);
    EXPECT_EQ(fs(2, string("sub"), 1), -1);
    EXPECT_EQ(fs(2, string("a.txt"), 1), 0);
    EXPECT_EQ(fs(2, string(""), 1), 0);
    EXPECT_EQ(fs(2, string("/"), 1), -1);  // the application directory
    EXPECT_EQ(errorWith(FILESYSTEM, 1, {0}), Pair(1, "NullPointerException: NULL pointer"));
}

TEST_F(VmFileSystemNatives, DeleteCreateAndRemove)
{
    file("a.txt", "a");
    fs(3, string("a.txt"), 0);
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_EQ(errorWith(FILESYSTEM, 3, {string("a.txt")}), kIo);
    EXPECT_EQ(errorWith(FILESYSTEM, 3, {string("")}), Pair(6, "InvalidArgumentException: Path is empty"));

    fs(8, string("x/y/z"), 0);
    EXPECT_TRUE(exists("x/y/z"));
    EXPECT_EQ(errorWith(FILESYSTEM, 8, {string("")}), Pair(6, "InvalidArgumentException: Path is empty"));
    file("x/y/z/f", "f");
    file("x/top", "t");
    fs(4, string("x"), 0);
    EXPECT_FALSE(exists("x"));
    EXPECT_EQ(errorWith(FILESYSTEM, 4, {string("x")}), kIo);
    EXPECT_EQ(errorWith(FILESYSTEM, 4, {string("")}), Pair(6, "InvalidArgumentException: Path is empty"));
    // A hidden entry keeps its directory: the visible files go, the call fails.
    file("h/.hidden", "h");
    file("h/seen", "s");
    EXPECT_EQ(errorWith(FILESYSTEM, 4, {string("h")}), kIo);
    EXPECT_FALSE(exists("h/seen"));
    EXPECT_TRUE(exists("h/.hidden"));

    file("full.txt", "content");
    fs(7, string("full.txt"), 0);
    EXPECT_EQ(slurp(host.path("full.txt")), "");
    fs(7, string("new/dir/made.txt"), 0);
    EXPECT_TRUE(exists("new/dir/made.txt"));
    EXPECT_EQ(errorWith(FILESYSTEM, 7, {string("")}), Pair(6, "InvalidArgumentException: Path is empty"));
    EXPECT_EQ(errorWith(FILESYSTEM, 7, {string("new")}), kIo);  // a directory
}

TEST_F(VmFileSystemNatives, ListingsGiveNewArraysOfNames)
{
    file("d/a.txt", "a");
    file("d/b.txt", "b");
    file("d/.hidden", "h");
    mkdir("d/sub");
    mkdir("d/.git");
    ASSERT_EQ(::symlink(host.path("d/a.txt").c_str(), host.path("d/link").c_str()), 0);
    EXPECT_EQ(names(fs(6, string("d"), 1)), (Names{"a.txt", "b.txt"}));
    EXPECT_EQ(names(fs(5, string("d"), 1)), (Names{"sub"}));
    EXPECT_EQ(names(fs(5, string("d/sub"), 1)), Names{});
    EXPECT_EQ(names(fs(6, string("d/sub"), 1)), Names{});
    EXPECT_EQ(errorWith(FILESYSTEM, 5, {string("missing")}), kIo);
    EXPECT_EQ(errorWith(FILESYSTEM, 6, {string("")}), kIo);  // no test of its own: the host refuses
    EXPECT_EQ(errorWith(FILESYSTEM, 6, {string("d/a.txt")}), kIo);
    // Many names: the array grows past its first capacity.
    for (int i = 0; i < 25; ++i)
        file("many/f" + std::to_string(i), "");
    EXPECT_EQ(names(fs(6, string("many"), 1)).size(), 25u);
}

TEST_F(VmFileSystemNatives, MovesCheckSourceThenTargetAndNeverReplace)
{
    file("a.txt", "A");
    callWith(FILESYSTEM, 9, {string("a.txt"), string("n/m/b.txt")}, 0);
    EXPECT_FALSE(exists("a.txt"));
    EXPECT_EQ(slurp(host.path("n/m/b.txt")), "A");
    EXPECT_EQ(errorWith(FILESYSTEM, 9, {string(""), string("")}),
              Pair(6, "InvalidArgumentException: Source filename is empty"));
    EXPECT_EQ(errorWith(FILESYSTEM, 9, {string("x"), string("")}),
              Pair(6, "InvalidArgumentException: Target filename is empty"));
    EXPECT_EQ(errorWith(FILESYSTEM, 9, {string("missing"), string("c")}), kIo);
    // Renaming over an existing file fails and keeps both.
    file("keep.txt", "old");
    EXPECT_EQ(errorWith(FILESYSTEM, 9, {string("n/m/b.txt"), string("keep.txt")}), kIo);
    EXPECT_EQ(slurp(host.path("keep.txt")), "old");
    EXPECT_EQ(slurp(host.path("n/m/b.txt")), "A");

    callWith(FILESYSTEM, 10, {string("n"), string("o")}, 0);
    EXPECT_TRUE(exists("o/m/b.txt"));
    EXPECT_EQ(errorWith(FILESYSTEM, 10, {string(""), string("")}),
              Pair(6, "InvalidArgumentException: Source path is empty"));
    EXPECT_EQ(errorWith(FILESYSTEM, 10, {string("o"), string("")}),
              Pair(6, "InvalidArgumentException: Target path is empty"));
    EXPECT_EQ(errorWith(FILESYSTEM, 10, {string("missing"), string("p")}), kIo);
    // Nor over an existing directory, empty or not.
    mkdir("empty");
    mkdir("full/inner");
    EXPECT_EQ(errorWith(FILESYSTEM, 10, {string("o"), string("full")}), kIo);
    EXPECT_EQ(errorWith(FILESYSTEM, 10, {string("o"), string("empty")}), kIo);
    EXPECT_TRUE(exists("o/m/b.txt"));
    EXPECT_TRUE(exists("full/inner"));
}

TEST_F(VmFileSystemNatives, UnknownFunctionsNameTheGroup)
{
    for (int function : {0, 11, 99})
        EXPECT_EQ(errorWith(FILESYSTEM, function, {}), Pair(10, "VMException: FileSystem:77"));
}

// Paths that would lead out of the application directory, tried against
// every operation that takes a path. Nothing outside may be read, made,
// changed or removed.
struct VmFileEscapes : VmFileSystemNatives {
    QTemporaryDir outside;
    std::string out(const std::string& aName) { return outside.path().toStdString() + "/" + aName; }

    void SetUp() override
    {
        VmFileSystemNatives::SetUp();
        spit(out("secret.txt"), "secret");
        QDir().mkpath(QString::fromStdString(out("dir")));
        spit(out("dir/inner.txt"), "inner");
        ASSERT_EQ(::symlink(outside.path().toStdString().c_str(), host.path("outlink").c_str()), 0);
        ASSERT_EQ(::symlink(out("secret.txt").c_str(), host.path("filelink").c_str()), 0);
        ASSERT_EQ(::symlink(out("made.txt").c_str(), host.path("dangling").c_str()), 0);
        ASSERT_EQ(::symlink(host.path("outlink").c_str(), host.path("chain").c_str()), 0);
        file("inside.txt", "in");
    }
    void expectOutsideUntouched()
    {
        EXPECT_EQ(slurp(out("secret.txt")), "secret");
        EXPECT_EQ(slurp(out("dir/inner.txt")), "inner");
        EXPECT_EQ(QDir(outside.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden).size(), 2);
    }
    // Every operation with the path; each must fail in its own way.
    void tryEverything(Word aPath, const std::string& aShown)
    {
        SCOPED_TRACE(aShown);
        Word reader = cell(0), writer = cell(0);
        EXPECT_EQ(errorWith(READER, 1, {reader, aPath}).first, 7);
        EXPECT_EQ(errorWith(WRITER, 1, {writer, aPath, 0}), kIo);
        EXPECT_EQ(errorWith(WRITER, 1, {writer, aPath, -1}), kIo);
        EXPECT_EQ(load(reader), 0);
        EXPECT_EQ(load(writer), 0);
        EXPECT_EQ(fs(1, aPath, 1), 0);
        EXPECT_EQ(fs(2, aPath, 1), 0);
        for (int function : {3, 4, 5, 6, 7, 8})
            EXPECT_EQ(errorWith(FILESYSTEM, function, {aPath}), kIo) << function;
        for (int function : {9, 10}) {
            EXPECT_EQ(errorWith(FILESYSTEM, function, {aPath, string("moved")}), kIo) << function;
            EXPECT_EQ(errorWith(FILESYSTEM, function, {string("inside.txt"), aPath}), kIo) << function;
        }
        EXPECT_EQ(slurp(host.path("inside.txt")), "in");
        expectOutsideUntouched();
    }
};

TEST_F(VmFileEscapes, RefusedPathsFailEveryOperation)
{
    const char* paths[] = {"..", "../secret.txt", "a/../../secret.txt", "sub/..", "c:secret.txt", "a|b",
                           "outlink", "outlink/secret.txt", "outlink/dir", "outlink/new.txt", "outlink/dir/inner.txt",
                           "filelink", "dangling", "chain/secret.txt", "//outlink//dir"};
    for (const char* path : paths)
        tryEverything(string(path), path);
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(out("made.txt"))));
    // Units that cannot reach the system unchanged: a NUL would cut the name
    // short, units above 0xFF would narrow to other bytes ("\u012E" to ".").
    tryEverything(unicode(std::u16string(u"inside.txt\0x", 12)), "NUL");
    tryEverything(unicode(u"\u012E\u012E/secret.txt"), "wide dots");
    tryEverything(unicode(u"\u0169nside.txt"), "wide letter");
    expectOutsideUntouched();
}

TEST_F(VmFileEscapes, AbsolutePathsAndDoubledSlashesStayInside)
{
    std::string absolute = out("secret.txt");
    EXPECT_EQ(fs(1, string(absolute.c_str()), 1), 0);
    Word reader = cell(0);
    EXPECT_EQ(errorWith(READER, 1, {reader, string(absolute.c_str())}).first, 7);
    // Creating it makes a file below the application directory instead.
    fs(7, string(("/" + absolute).c_str()), 0);
    EXPECT_TRUE(exists(absolute.substr(1)));
    fs(3, string(absolute.c_str()), 0);
    EXPECT_FALSE(exists(absolute.substr(1)));
    EXPECT_EQ(fs(1, string("//inside.txt"), 1), -1);
    EXPECT_EQ(fs(1, string("/inside.txt"), 1), -1);
    expectOutsideUntouched();
}

TEST_F(VmFileEscapes, LinksThatStayInsideWork)
{
    mkdir("real");
    file("real/f.txt", "linked");
    ASSERT_EQ(::symlink(host.path("real").c_str(), host.path("alias").c_str()), 0);
    ASSERT_EQ(::symlink("real/f.txt", host.path("relative").c_str()), 0);
    EXPECT_EQ(fs(1, string("alias/f.txt"), 1), -1);
    EXPECT_EQ(fs(1, string("relative"), 1), -1);
    Word reader = cell(0);
    callWith(READER, 1, {reader, string("alias/f.txt")}, 0);
    EXPECT_EQ(callWith(READER, 4, {reader}, 1), 6);
    fs(7, string("alias/new.txt"), 0);
    EXPECT_TRUE(exists("real/new.txt"));
}
