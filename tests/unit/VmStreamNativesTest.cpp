// FileReader, FileWriter, InputStream and OutputStream on real files in a
// temporary application directory: stack effects, error order and texts,
// holders and their release, failing writes.
#include <sys/mount.h>

#include <QDir>
#include <QFileInfo>

#include "Containers/OVector.h"
#include "IO/FileStream.h"
#include "StreamHolder.h"
#include "VmNativeFixture.h"

using namespace vm;

namespace {

using Pair = VmNativeFixture::Pair;

enum { OUTPUT = 21, WRITER = 22, INPUT = 23, READER = 24 };

const Pair kNotOpen{7, "IOException: File is not open"};
const Pair kIo{7, "IOException"};
const Pair kTypeId{10, "VMException: Invalid TYPEID"};
const Pair kNull{1, "NullPointerException: NULL pointer"};

struct VmStreamNatives : VmNativeFixture {
    // A reader or writer object: a cell for the holder.
    Word object() { return cell(0); }
    Word openReader(const char* aName)
    {
        Word reader = object();
        callWith(READER, 1, {reader, string(aName)}, 0);
        return reader;
    }
    Word openWriter(const char* aName, bool aAppend)
    {
        Word writer = object();
        callWith(WRITER, 1, {writer, string(aName), aAppend ? -1 : 0}, 0);
        return writer;
    }
    Word bytes(const std::string& aData)
    {
        return keep(newByteVector(heap(), aData.data(), aData.size()));
    }
    std::string contents(Word aArray)
    {
        std::vector<uint8_t> view = byteVectorBytes(heap(), Addr(aArray));
        return std::string(view.begin(), view.end());
    }
    void file(const std::string& aName, const std::string& aData)
    {
        QDir().mkpath(QFileInfo(QString::fromStdString(host.path(aName))).path());
        spit(host.path(aName), aData);
    }
    std::string file(const std::string& aName) { return slurp(host.path(aName)); }
};

}  // namespace

TEST_F(VmStreamNatives, ReaderOpenChecksTheNameThenTheHost)
{
    Word reader = object();
    EXPECT_EQ(errorWith(READER, 1, {0, string("a.txt")}), kNull);
    EXPECT_EQ(errorWith(READER, 1, {reader, 0}), kNull);
    EXPECT_EQ(errorWith(READER, 1, {reader, string("")}), Pair(6, "InvalidArgumentException: Filename is empty"));
    EXPECT_EQ(load(reader), 0);
    EXPECT_EQ(errorWith(READER, 3, {reader}), kNotOpen);
    EXPECT_EQ(errorWith(READER, 1, {reader, string("missing.txt")}),
              Pair(7, "IOException: Could not open file: missing.txt"));
    EXPECT_EQ(errorWith(READER, 1, {reader, string("../x")}), Pair(7, "IOException: Could not open file: ../x"));
    EXPECT_EQ(load(reader), 0);

    file("ten.bin", "0123456789");
    callWith(READER, 1, {reader, string("ten.bin")}, 0);
    Addr holder = Addr(load(reader));
    EXPECT_EQ(heap().gcCodeOf(holder), GC_CODE_STREAM);
    EXPECT_EQ(load(Word(holder)), StreamHolder::FILE_READER_TYPE_ID);
    EXPECT_EQ(callWith(INPUT, 2, {reader}, 1), -1);
}

TEST_F(VmStreamNatives, ReaderPositionAndSize)
{
    file("ten.bin", "0123456789");
    Word reader = openReader("ten.bin");
    EXPECT_EQ(callWith(READER, 4, {reader}, 1), 10);
    EXPECT_EQ(callWith(READER, 3, {reader}, 1), 0);
    callWith(READER, 2, {reader, 4}, 0);
    EXPECT_EQ(callWith(READER, 3, {reader}, 1), 4);
    callWith(READER, 2, {reader, 10}, 0);  // exactly the size
    EXPECT_EQ(errorWith(READER, 2, {reader, 11}), kIo);
    // The position test comes before everything else.
    EXPECT_EQ(errorWith(READER, 2, {reader, -1}), Pair(6, "InvalidArgumentException: Position is less than zero: -1"));
    EXPECT_EQ(errorWith(READER, 2, {object(), -5}), Pair(6, "InvalidArgumentException: Position is less than zero: -5"));
    EXPECT_EQ(errorWith(READER, 2, {0, -1}), Pair(6, "InvalidArgumentException: Position is less than zero: -1"));
    EXPECT_EQ(errorWith(READER, 2, {0, 1}), kNull);
    EXPECT_EQ(errorWith(READER, 2, {object(), 1}), kNotOpen);
    for (int function : {3, 4}) {
        EXPECT_EQ(errorWith(READER, function, {0}), kNull);
        EXPECT_EQ(errorWith(READER, function, {object()}), kNotOpen);
    }
}

TEST_F(VmStreamNatives, ReadMakesAnArrayOfExactlyTheCount)
{
    file("ten.bin", "0123456789");
    Word reader = openReader("ten.bin");
    Word empty = callWith(INPUT, 3, {reader, 0}, 1);
    EXPECT_EQ(contents(empty), "");
    EXPECT_EQ(heap().gcCodeOf(Addr(empty)), GC_CODE_ARRAY);
    EXPECT_EQ(contents(callWith(INPUT, 3, {reader, 4}, 1)), "0123");
    EXPECT_EQ(contents(callWith(INPUT, 3, {reader, 5}, 1)), "45678");
    EXPECT_EQ(errorWith(INPUT, 3, {reader, 2}), kIo);  // one byte left
    EXPECT_EQ(callWith(READER, 3, {reader}, 1), 10);   // the short read ends at the end
    EXPECT_EQ(errorWith(INPUT, 3, {reader, 0x7FFFFFFF}), kIo);
    callWith(READER, 2, {reader, 9}, 0);
    EXPECT_EQ(contents(callWith(INPUT, 3, {reader, 1}, 1)), "9");

    EXPECT_EQ(errorWith(INPUT, 3, {reader, -1}),
              Pair(6, "InvalidArgumentException: The number of bytes should be non-negative"));
    EXPECT_EQ(errorWith(INPUT, 3, {object(), -1}),
              Pair(6, "InvalidArgumentException: The number of bytes should be non-negative"));
    EXPECT_EQ(errorWith(INPUT, 3, {object(), 1}), kNotOpen);
    EXPECT_EQ(errorWith(INPUT, 3, {0, 1}), kNull);
}

TEST_F(VmStreamNatives, CloseKeepsTheHolderAndLaterOperationsSayNotOpen)
{
    file("ten.bin", "0123456789");
    Word reader = openReader("ten.bin");
    Word holder = load(reader);
    callWith(INPUT, 1, {reader}, 0);
    EXPECT_EQ(load(reader), holder);
    EXPECT_EQ(callWith(INPUT, 2, {reader}, 1), 0);
    callWith(INPUT, 1, {reader}, 0);  // again: nothing
    EXPECT_EQ(errorWith(READER, 3, {reader}), kNotOpen);
    EXPECT_EQ(errorWith(READER, 4, {reader}), kNotOpen);
    EXPECT_EQ(errorWith(READER, 2, {reader, 0}), kNotOpen);
    EXPECT_EQ(errorWith(INPUT, 3, {reader, 1}), kNotOpen);
    // Never opened: is-open answers false, close does nothing.
    Word never = object();
    EXPECT_EQ(callWith(INPUT, 2, {never}, 1), 0);
    callWith(INPUT, 1, {never}, 0);
    EXPECT_EQ(callWith(OUTPUT, 2, {never}, 1), 0);
    callWith(OUTPUT, 1, {never}, 0);
    EXPECT_EQ(errorWith(INPUT, 1, {0}), kNull);
    EXPECT_EQ(errorWith(INPUT, 2, {0}), kNull);
    EXPECT_EQ(errorWith(OUTPUT, 1, {0}), kNull);
    EXPECT_EQ(errorWith(OUTPUT, 2, {0}), kNull);

    Word writer = openWriter("w.bin", false);
    callWith(OUTPUT, 3, {writer, bytes("abc")}, 0);
    callWith(OUTPUT, 1, {writer}, 0);
    EXPECT_EQ(file("w.bin"), "abc");
    EXPECT_EQ(callWith(OUTPUT, 2, {writer}, 1), 0);
    EXPECT_EQ(errorWith(OUTPUT, 3, {writer, bytes("d")}), kIo);
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, 0, 1, bytes("d")}), kNotOpen);
    EXPECT_EQ(errorWith(WRITER, 3, {writer}), kNotOpen);
}

TEST_F(VmStreamNatives, WriterOpenTruncatesOrAppends)
{
    Word writer = object();
    EXPECT_EQ(errorWith(WRITER, 1, {0, string("a"), 0}), kNull);
    EXPECT_EQ(errorWith(WRITER, 1, {writer, 0, 0}), kNull);
    EXPECT_EQ(errorWith(WRITER, 1, {writer, string(""), 0}), Pair(6, "InvalidArgumentException: Filename is empty"));
    EXPECT_EQ(errorWith(WRITER, 1, {writer, string("a|b"), 0}), kIo);
    EXPECT_EQ(load(writer), 0);

    file("ten.bin", "0123456789");
    Word append = openWriter("ten.bin", true);
    EXPECT_EQ(load(load(append)), StreamHolder::FILE_WRITER_TYPE_ID);
    EXPECT_EQ(callWith(WRITER, 4, {append}, 1), 10);
    EXPECT_EQ(callWith(WRITER, 3, {append}, 1), 10);
    callWith(OUTPUT, 3, {append, bytes("ab")}, 0);
    callWith(OUTPUT, 1, {append}, 0);
    EXPECT_EQ(file("ten.bin"), "0123456789ab");

    Word truncate = openWriter("ten.bin", false);
    EXPECT_EQ(callWith(WRITER, 4, {truncate}, 1), 0);
    callWith(OUTPUT, 3, {truncate, bytes("xy")}, 0);
    callWith(OUTPUT, 3, {truncate, bytes("")}, 0);
    callWith(OUTPUT, 1, {truncate}, 0);
    EXPECT_EQ(file("ten.bin"), "xy");

    Word nested = openWriter("deep/er/f.bin", false);  // directories are made
    EXPECT_EQ(callWith(OUTPUT, 2, {nested}, 1), -1);
    EXPECT_TRUE(QDir(QString::fromStdString(host.path("deep/er"))).exists());
}

TEST_F(VmStreamNatives, WriterPositionOverwritesInPlace)
{
    Word writer = openWriter("p.bin", false);
    callWith(OUTPUT, 3, {writer, bytes("abcdef")}, 0);
    EXPECT_EQ(callWith(WRITER, 3, {writer}, 1), 6);
    EXPECT_EQ(callWith(WRITER, 4, {writer}, 1), 6);
    callWith(WRITER, 2, {writer, 2}, 0);
    callWith(OUTPUT, 3, {writer, bytes("XY")}, 0);
    EXPECT_EQ(callWith(WRITER, 3, {writer}, 1), 4);
    callWith(WRITER, 2, {writer, 6}, 0);
    EXPECT_EQ(errorWith(WRITER, 2, {writer, 7}), kIo);
    EXPECT_EQ(errorWith(WRITER, 2, {writer, -1}), Pair(6, "InvalidArgumentException: Position is less than zero: -1"));
    EXPECT_EQ(errorWith(WRITER, 2, {0, 1}), kNull);
    EXPECT_EQ(errorWith(WRITER, 2, {object(), 1}), kNotOpen);
    for (int function : {3, 4}) {
        EXPECT_EQ(errorWith(WRITER, function, {0}), kNull);
        EXPECT_EQ(errorWith(WRITER, function, {object()}), kNotOpen);
    }
    callWith(OUTPUT, 1, {writer}, 0);
    EXPECT_EQ(file("p.bin"), "abXYef");
}

TEST_F(VmStreamNatives, WriteRangeUsesTheSharedRangeCheck)
{
    Word writer = openWriter("r.bin", false);
    Word five = bytes("01234");
    callWith(OUTPUT, 4, {writer, 2, -1, five}, 0);
    callWith(OUTPUT, 4, {writer, 1, 2, five}, 0);
    callWith(OUTPUT, 4, {writer, 5, -1, five}, 0);  // nothing
    callWith(OUTPUT, 4, {writer, 3, 0, five}, 0);   // nothing
    callWith(OUTPUT, 4, {writer, 0, 5, five}, 0);
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, 6, -1, five}),
              Pair(5, "RangeException: Invalid Range, first should not be more than 5, first = 6"));
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, -2, -1, five}),
              Pair(5, "RangeException: Invalid Range, first should not be less than 0, first = -2"));
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, -1, 0, five}),
              Pair(5, "RangeException: Invalid Range, first should be non-negative (first=-1)"));
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, -1, 2, five}),
              Pair(5, "RangeException: Invalid Range, first should not be less than0, first =  -1"));
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, 3, 3, five}),
              Pair(5, "RangeException: Invalid Range, range out of bounds: 6 > 5"));
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, 0, 1, 0}), kNull);
    EXPECT_EQ(errorWith(OUTPUT, 3, {writer, 0}), kNull);
    // No holder comes first, then the range, then the open state.
    EXPECT_EQ(errorWith(OUTPUT, 4, {object(), 6, -1, five}), kNotOpen);
    EXPECT_EQ(errorWith(OUTPUT, 3, {object(), five}), kNotOpen);
    EXPECT_EQ(errorWith(OUTPUT, 4, {0, 0, 1, five}), kNull);
    callWith(OUTPUT, 1, {writer}, 0);
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, 6, -1, five}),
              Pair(5, "RangeException: Invalid Range, first should not be more than 5, first = 6"));
    EXPECT_EQ(errorWith(OUTPUT, 4, {writer, 0, 0, five}), kNotOpen);
    EXPECT_EQ(file("r.bin"), "2341201234");
}

TEST_F(VmStreamNatives, EachGroupRefusesTheOtherKindOfHolder)
{
    file("in.bin", "data");
    Word reader = openReader("in.bin");
    Word writer = openWriter("out.bin", false);
    Word data = bytes("x");
    EXPECT_EQ(errorWith(READER, 2, {writer, 0}), kTypeId);
    EXPECT_EQ(errorWith(READER, 3, {writer}), kTypeId);
    EXPECT_EQ(errorWith(READER, 4, {writer}), kTypeId);
    EXPECT_EQ(errorWith(INPUT, 1, {writer}), kTypeId);
    EXPECT_EQ(errorWith(INPUT, 2, {writer}), kTypeId);
    EXPECT_EQ(errorWith(INPUT, 3, {writer, 1}), kTypeId);
    EXPECT_EQ(errorWith(WRITER, 2, {reader, 0}), kTypeId);
    EXPECT_EQ(errorWith(WRITER, 3, {reader}), kTypeId);
    EXPECT_EQ(errorWith(WRITER, 4, {reader}), kTypeId);
    EXPECT_EQ(errorWith(OUTPUT, 1, {reader}), kTypeId);
    EXPECT_EQ(errorWith(OUTPUT, 2, {reader}), kTypeId);
    EXPECT_EQ(errorWith(OUTPUT, 3, {reader, data}), kTypeId);
    EXPECT_EQ(errorWith(OUTPUT, 4, {reader, 0, 1, data}), kTypeId);
    // A TYPEID rewritten by bytecode does not make one stream the other.
    vm.space().storeWord(Addr(load(writer)), StreamHolder::FILE_READER_TYPE_ID);
    EXPECT_EQ(errorWith(INPUT, 3, {writer, 1}), kTypeId);
    vm.space().storeWord(Addr(load(writer)), StreamHolder::FILE_WRITER_TYPE_ID);
    // Something that is no holder at all.
    EXPECT_EQ(errorWith(READER, 3, {cell(string("x"))}), kTypeId);
    EXPECT_EQ(errorWith(OUTPUT, 3, {cell(data), data}), kTypeId);
    // Both streams still work.
    EXPECT_EQ(contents(callWith(INPUT, 3, {reader, 4}, 1)), "data");
    callWith(OUTPUT, 1, {writer}, 0);
}

TEST_F(VmStreamNatives, ASecondOpenReplacesTheHolderAndTheCollectorClosesTheOld)
{
    Word writer = openWriter("first.bin", false);
    Word first = load(writer);
    callWith(OUTPUT, 3, {writer, bytes("kept")}, 0);  // still buffered
    callWith(WRITER, 1, {writer, string("second.bin"), 0}, 0);
    EXPECT_NE(load(writer), first);
    reset();
    vm.collectWithStack();
    EXPECT_FALSE(heap().isLiveBlock(Addr(first)));
    EXPECT_EQ(file("first.bin"), "kept");  // the stream was closed, flushing it
    callWith(OUTPUT, 3, {writer, bytes("new")}, 0);
    callWith(OUTPUT, 1, {writer}, 0);
    EXPECT_EQ(file("second.bin"), "new");

    // A reader whose holder nothing refers to any more is released too.
    file("r.bin", "r");
    Word reader = openReader("r.bin");
    Addr holder = Addr(load(reader));
    vm.space().storeWord(Addr(reader), 0);
    reset();
    vm.collectWithStack();
    EXPECT_FALSE(heap().isLiveBlock(holder));
}

TEST_F(VmStreamNatives, UnknownFunctionsNameTheirGroup)
{
    for (int function : {0, 5, 100}) {
        EXPECT_EQ(errorWith(READER, function, {}), Pair(10, "VMException: FileReader:77"));
        EXPECT_EQ(errorWith(WRITER, function, {}), Pair(10, "VMException: FileWriter:77"));
    }
    for (int function : {0, 4, 100})
        EXPECT_EQ(errorWith(INPUT, function, {}), Pair(10, "VMException: InputStream:77"));
    for (int function : {0, 5, 100})
        EXPECT_EQ(errorWith(OUTPUT, function, {}), Pair(10, "VMException: OutputStream:77"));
}

// A full disk: a small tmpfs mounted inside the application directory (needs
// the right to mount; skipped without it).
struct VmStreamNativesFullDisk : VmStreamNatives {
    std::string mountPoint;
    void SetUp() override
    {
        VmStreamNatives::SetUp();
        mountPoint = host.path("small");
        QDir().mkpath(QString::fromStdString(mountPoint));
        if (::mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=64k") != 0) {
            mountPoint.clear();
            GTEST_SKIP() << "cannot mount a tmpfs here";
        }
    }
    void TearDown() override
    {
        if (!mountPoint.empty())
            ::umount2(mountPoint.c_str(), MNT_DETACH);
        VmStreamNatives::TearDown();
    }
    // Writes 4 KiB chunks until the disk refuses, then closes; true when an
    // IOException was raised by a write or by close.
    bool fillUntilRefused(Word aWriter)
    {
        Word chunk = bytes(std::string(4096, 'z'));
        for (int i = 0; i < 64; ++i) {
            operands({aWriter, chunk});
            if (errorOf([&] { call(OUTPUT, 3); }) == kIo) {
                errorOf([&] { callWith(OUTPUT, 1, {aWriter}, 0); });
                return true;
            }
        }
        return errorWith(OUTPUT, 1, {aWriter}) == kIo;
    }
};

TEST_F(VmStreamNativesFullDisk, FailingWritesAreReportedAndAppendKeepsTheOldBytes)
{
    file("small/old.txt", "previous content");
    Word filler = openWriter("small/filler.bin", false);
    EXPECT_TRUE(fillUntilRefused(filler));
    Word append = openWriter("small/old.txt", true);
    Word more = bytes(std::string(8192, 'm'));
    Pair write = errorWith(OUTPUT, 3, {append, more});
    Pair close = errorWith(OUTPUT, 1, {append});
    EXPECT_TRUE(write == kIo || close == kIo);
    EXPECT_EQ(file("small/old.txt").substr(0, 16), "previous content");
}

TEST(VmFileStreamFull, WritesToAFullDeviceFailAndCloseSaysSo)
{
    KELVAR::FileOutputStream stream;
    ASSERT_TRUE(stream.open(CAppsString("/dev/full")));
    std::string block(8192, 'x');
    EXPECT_FALSE(stream.write(reinterpret_cast<const TUint8*>(block.data()), TUint32(block.size())));
    EXPECT_FALSE(stream.close());
    KELVAR::FileOutputStream small;
    ASSERT_TRUE(small.open(CAppsString("/dev/full")));
    EXPECT_TRUE(small.writeByte('a'));  // buffered
    EXPECT_FALSE(small.close());        // the final flush fails
}
