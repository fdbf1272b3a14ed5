// The host services of the window: the path rule, file operations, the log,
// screen size and the constant operations.
#ifdef MCB_HAVE_HOST

#include <sys/time.h>

#include "HostTestSupport.h"
#include "IO/FileStream.h"
#include "StringObjects.h"

using namespace hosttest;

namespace {

const std::string kIdle = std::string(R"(
.module "idle"
.map plain
.static "::global::init" done map plain
.static "main" done map plain
.code
done:
    ret 0, 1
)") + kExceptionMethods;

struct HostServices : HostFixture {
    void SetUp() override
    {
        HostFixture::SetUp();
        if (IsSkipped())
            return;
        ASSERT_EQ(start(kIdle), host::KRunGoesOn);
    }
    std::string resolved(const char* aPath)
    {
        CAppsString out;
        if (!view->resolvePath(OString(aPath), out))
            return "refused";
        return out.toLatin1();
    }
    std::string base() { return dir.path().toStdString(); }
};

void writeStream(KELVAR::OutputStream* aStream, const std::string& aBytes)
{
    ASSERT_NE(aStream, nullptr);
    EXPECT_TRUE(aStream->write(reinterpret_cast<const TUint8*>(aBytes.data()), TUint32(aBytes.size())));
}

}  // namespace

TEST_F(HostServices, PathRuleRefusesDotsColonsBarsAndEmptyPathsAndNormalisesTheRest)
{
    EXPECT_EQ(resolved(""), "refused");
    EXPECT_EQ(resolved(".."), "refused");
    EXPECT_EQ(resolved("a/../b"), "refused");
    EXPECT_EQ(resolved("x..y"), "refused");
    EXPECT_EQ(resolved("c:x"), "refused");
    EXPECT_EQ(resolved("a|b"), "refused");
    EXPECT_EQ(resolved("a.txt"), base() + "/a.txt");
    EXPECT_EQ(resolved("/a.txt"), base() + "/a.txt");
    EXPECT_EQ(resolved("//a//b///c.txt"), base() + "/a/b/c.txt");
    EXPECT_EQ(resolved("sub\\\\f.txt"), base() + "/sub/f.txt");

    // Refused paths never reach the file system.
    ASSERT_TRUE(writeAll(path("a..b"), "x"));
    EXPECT_EQ(view->fileExists(OString("a..b")), 0);
    EXPECT_EQ(view->openInputStream(OString("a..b"), 0), nullptr);
    EXPECT_EQ(view->openOutputStream(OString("x:y"), 1), nullptr);
    EXPECT_EQ(view->createDirectory(OString("p|q")), 0);
    EXPECT_EQ(view->deleteFile(OString("a..b")), 0);
    EXPECT_TRUE(QFile::exists(path("a..b")));
    EXPECT_EQ(view->moveFile(OString("a..b"), OString("c")), 0);
    EXPECT_EQ(view->setLogFile(OString("../log")), 0);
    EXPECT_FALSE(QDir(dir.path() + "/p|q").exists());
    // Units that would narrow to ".." are refused by the file layer.
    const char16_t dots[] = {0x12E, 0x12E, '/', 'x', 0};
    EXPECT_EQ(view->fileExists(OString(dots)), 0);

    // Doubled slashes name the same file.
    ASSERT_TRUE(QDir(dir.path()).mkpath("d"));
    ASSERT_TRUE(writeAll(path("d/f.txt"), "hello"));
    EXPECT_EQ(view->fileExists(OString("d//f.txt")), 1);
    EXPECT_EQ(view->fileExists(OString("d///f.txt")), 1);
    std::unique_ptr<KELVAR::InputStream> in(view->openInputStream(OString("//d//f.txt"), 7));
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->streamSize(), 5);
}

TEST_F(HostServices, FileOperationsWorkInsideTheApplicationDirectory)
{
    EXPECT_EQ(view->createDirectory(OString("a/b")), 1);
    EXPECT_EQ(view->directoryExists(OString("a/b")), 1);
    EXPECT_EQ(view->directoryExists(OString("a/c")), 0);
    std::unique_ptr<KELVAR::OutputStream> out(view->openOutputStream(OString("a/b/f.txt"), 1));
    writeStream(out.get(), "data");
    out.reset();
    EXPECT_EQ(readAll(path("a/b/f.txt")), "data");
    ASSERT_TRUE(writeAll(path("a/.hidden"), "h"));

    Vec<OString> files, directories;
    EXPECT_EQ(view->listDirectory(OString("a"), files, directories), 1);
    ASSERT_EQ(files.count(), 0);
    ASSERT_EQ(directories.count(), 1);
    EXPECT_EQ(directories[0].toUtf8(), "b");
    Vec<OString> keep{OString("k")};
    EXPECT_EQ(view->listDirectory(OString("missing"), keep, directories), 0);
    EXPECT_EQ(keep.count(), 1);  // untouched on failure
    EXPECT_EQ(directories.count(), 1);

    EXPECT_EQ(view->moveFile(OString("a/b/f.txt"), OString("n/m/g.txt")), 1);  // makes n/m
    EXPECT_EQ(view->fileExists(OString("n/m/g.txt")), 1);
    EXPECT_EQ(view->fileExists(OString("a/b/f.txt")), 0);
    EXPECT_EQ(view->deleteFile(OString("n/m/g.txt")), 1);
    EXPECT_EQ(view->deleteFile(OString("n/m/g.txt")), 0);
    EXPECT_EQ(view->moveDirectory(OString("n"), OString("o")), 1);
    EXPECT_EQ(view->directoryExists(OString("o/m")), 1);
    EXPECT_EQ(view->deleteDirectory(OString("o")), 1);
    EXPECT_EQ(view->directoryExists(OString("o")), 0);
    EXPECT_EQ(view->deleteDirectory(OString("a")), 0);  // holds a hidden file
}

TEST_F(HostServices, OutputStreamWithoutTruncationContinuesAfterTheOldBytes)
{
    ASSERT_TRUE(writeAll(path("ten.bin"), "0123456789"));
    std::unique_ptr<KELVAR::OutputStream> out(view->openOutputStream(OString("ten.bin"), 0));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->position(), 10);
    EXPECT_EQ(out->streamSize(), 10);
    // The old bytes are in place before anything is written.
    EXPECT_EQ(readAll(path("ten.bin")), "0123456789");
    writeStream(out.get(), "abc");
    EXPECT_EQ(out->position(), 13);
    EXPECT_TRUE(out->close());
    EXPECT_EQ(readAll(path("ten.bin")), "0123456789abc");

    // Overwriting inside the old content, as in a rewritten copy.
    out.reset(view->openOutputStream(OString("ten.bin"), 0));
    ASSERT_NE(out, nullptr);
    EXPECT_TRUE(out->setPosition(2));
    writeStream(out.get(), "XY");
    out.reset();
    EXPECT_EQ(readAll(path("ten.bin")), "01XY456789abc");

    // A missing file is created; flag 1 empties an existing one.
    out.reset(view->openOutputStream(OString("new/one.bin"), 2));
    writeStream(out.get(), "n");
    out.reset(view->openOutputStream(OString("ten.bin"), 1));
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->streamSize(), 0);
    out.reset();
    EXPECT_EQ(readAll(path("new/one.bin")), "n");
    EXPECT_EQ(readAll(path("ten.bin")), "");
    // A directory cannot be opened either way.
    EXPECT_EQ(view->openOutputStream(OString("new"), 0), nullptr);
    EXPECT_EQ(view->openOutputStream(OString("new"), 1), nullptr);
}

TEST_F(HostServices, LogWritesLowBytesToStandardErrorAndUtf8ToTheLogFile)
{
    const char16_t cafe[] = {'c', 'a', 'f', 0xE9, 0};
    testing::internal::CaptureStderr();
    view->log(OString(cafe));  // no log file yet
    EXPECT_EQ(view->setLogFile(OString("logs/app.log")), 1);
    view->log(OString(cafe));
    view->log(OString());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "LOG: caf\xE9\nLOG: caf\xE9\nLOG: \n");
    EXPECT_EQ(readAll(path("logs/app.log")), "LOG: caf\xC3\xA9\n");

    // A new file replaces the old one; an empty path drops it.
    EXPECT_EQ(view->setLogFile(OString("second.log")), 1);
    testing::internal::CaptureStderr();
    view->log(OString("two"));
    EXPECT_EQ(view->setLogFile(OString()), 1);
    view->log(OString("three"));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(readAll(path("second.log")), "LOG: two\n");
    EXPECT_EQ(readAll(path("logs/app.log")), "LOG: caf\xC3\xA9\n");
    // A file that cannot be opened: logging goes on to standard error only.
    ASSERT_TRUE(QDir(dir.path()).mkpath("adir"));
    EXPECT_EQ(view->setLogFile(OString("adir")), 0);
    testing::internal::CaptureStderr();
    view->log(OString("four"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "LOG: four\n");
}

TEST_F(HostServices, ScreenSizeFollowsTheOrientationModeNotTheWindow)
{
    int width = 0, height = 0;
    EXPECT_EQ(view->getOrientation(), 2);
    view->getScreenSize(width, height);
    EXPECT_EQ(width, 800);
    EXPECT_EQ(height, 480);
    view->setOrientation(1);  // the window stays landscape
    EXPECT_EQ(view->getOrientation(), 1);
    view->getScreenSize(width, height);
    EXPECT_EQ(width, 480);
    EXPECT_EQ(height, 800);
    EXPECT_TRUE(view->isRotated());
    view->setOrientation(7);
    view->getScreenSize(width, height);
    EXPECT_EQ(width, 480);
    EXPECT_FALSE(view->isRotated());
}

TEST_F(HostServices, ConstantOperationsClocksAndNames)
{
    EXPECT_EQ(view->getPathSeparator().toUtf8(), "/");
    EXPECT_EQ(view->getPlatformName().toUtf8(), "maemo");
    EXPECT_EQ(view->getApplicationDirectory().toUtf8(), dir.path().toStdString());
    EXPECT_EQ(view->fileSystemOperation6(1, 2), 0);
    EXPECT_EQ(view->frameworkOperation13(), 0);
    EXPECT_EQ(view->frameworkOperation14(), 0);
    EXPECT_EQ(view->frameworkOperation22(OString("x")), 0);
    EXPECT_EQ(view->frameworkOperation24(1, 2), 0);
    EXPECT_EQ(view->frameworkOperation25(1, true), 0);
    EXPECT_EQ(view->frameworkOperation38(1, 2), 0);

    struct timeval now;
    gettimeofday(&now, nullptr);
    TInt32 expected = TInt32(TUint32((TInt64(now.tv_sec) * 1000000 + now.tv_usec) / 1000));
    EXPECT_LE(std::abs(int64_t(view->getCurrentTimeMillis()) - expected), 1000);
    int since = view->getTimeSinceStart();
    EXPECT_GE(since, 0);
    EXPECT_LT(since, 60000);
}

TEST_F(HostServices, UnknownExtensionNumbersAreRefusedAsUnsupported)
{
    try {
        view->callExtension(21, 1, 0, machine().stackAddress());
        ADD_FAILURE() << "no error";
    } catch (const vm::ErrorHandlingException&) {
        EXPECT_EQ(vm::toLatin1(vm::pendingError().text), "VMException: Dll not supported");
        vm::clearPendingError();
    }
}

#endif  // MCB_HAVE_HOST
