#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "Heap.h"
#include "IO/FileStream.h"
#include "IO/MemoryStream.h"
#include "StreamHolder.h"

using namespace KELVAR;

namespace {

CAppsString path(const std::string& aPath)
{
    return CAppsString(std::string_view(aPath));
}

template <typename Base>
struct Counting : Base {
    using Base::Base;
    void onError() override { ++errors; }
    int errors = 0;
};

struct StreamTest : ::testing::Test {
    QTemporaryDir tmp;
    std::string dir() const { return tmp.path().toStdString(); }
};

}  // namespace

TEST_F(StreamTest, FileInputReadsAndReportsEndOfData)
{
    spit(dir() + "/in.bin", std::string("\x01\xFF\x02", 3));
    Counting<FileInputStream> in;
    EXPECT_TRUE(in.open(path(dir() + "/in.bin")));
    EXPECT_TRUE(in.isOpen());
    EXPECT_EQ(in.streamSize(), 3);
    EXPECT_EQ(in.readByte(), 1);
    EXPECT_EQ(in.readByte(), 255);  // unsigned
    EXPECT_EQ(in.position(), 2);
    EXPECT_FALSE(in.isEof());
    EXPECT_EQ(in.readByte(), 2);
    EXPECT_TRUE(in.isEof());
    EXPECT_EQ(in.errors, 0);
    EXPECT_EQ(in.readByte(), -1);
    EXPECT_EQ(in.errors, 1);

    TUint8 buf[4] = {};
    EXPECT_TRUE(in.read(buf, 0));
    EXPECT_TRUE(in.setPosition(1));
    EXPECT_FALSE(in.read(buf, 3));  // only two left
    EXPECT_EQ(in.errors, 2);
    EXPECT_TRUE(in.setPosition(0));
    EXPECT_TRUE(in.read(buf, 3));
    EXPECT_EQ(buf[1], 0xFF);

    // The end itself is a valid position; one past it is not.
    EXPECT_TRUE(in.setPosition(in.streamSize()));
    EXPECT_TRUE(in.isEof());
    EXPECT_FALSE(in.setPosition(in.streamSize() + 1));
    EXPECT_FALSE(in.setPosition(-1));
    EXPECT_EQ(in.position(), 3);

    in.close();
    EXPECT_FALSE(in.isOpen());
    EXPECT_TRUE(in.isEof());
    EXPECT_EQ(in.readByte(), -1);
    EXPECT_FALSE(in.read(buf, 0));
    EXPECT_EQ(in.streamSize(), 0);
    EXPECT_EQ(in.position(), 0);
    EXPECT_FALSE(in.setPosition(0));
}

TEST_F(StreamTest, FileInputOpenFailures)
{
    Counting<FileInputStream> in;
    EXPECT_FALSE(in.open(CAppsString()));
    EXPECT_EQ(in.errors, 0);  // an empty path opens nothing
    EXPECT_FALSE(in.open(path(dir() + "/missing")));
    EXPECT_EQ(in.errors, 1);
    EXPECT_FALSE(in.isOpen());
    EXPECT_FALSE(in.open(path(dir())));  // a directory has no bytes
    EXPECT_EQ(in.errors, 2);

    // Units that do not narrow to themselves never reach the system.
    spit(dir() + "/..x", "data");
    CAppsString wide = path(dir() + "/");
    wide += (unsigned short)0x012E;
    wide += (unsigned short)0x012E;
    wide += "x";
    EXPECT_FALSE(in.open(wide));
    CAppsString withNul = path(dir() + "/..x");
    withNul += (unsigned short)0;
    withNul += "y";
    EXPECT_FALSE(in.open(withNul));

    // Separators are converted, as for writing.
    spit(dir() + "/sep.txt", "s");
    std::string backslashed = dir() + "\\sep.txt";
    EXPECT_TRUE(in.open(path(backslashed)));
    EXPECT_EQ(in.readByte(), 's');
}

TEST_F(StreamTest, FileOutputCreatesParentsAndTruncates)
{
    std::string target = dir() + "/a/b/c.txt";
    {
        FileOutputStream out;
        EXPECT_TRUE(out.open(path(target)));
        EXPECT_TRUE(QFileInfo(QString::fromStdString(dir() + "/a/b")).isDir());
        EXPECT_TRUE(out.writeByte(0x141));  // low 8 bits
        const TUint8 bytes[] = {'b', 'c', 'd'};
        EXPECT_TRUE(out.write(bytes, 3));
        EXPECT_TRUE(out.write(bytes, 0));
        EXPECT_EQ(out.position(), 4);
        EXPECT_EQ(out.streamSize(), 4);
        EXPECT_TRUE(out.setPosition(1));
        EXPECT_TRUE(out.writeByte('X'));
        EXPECT_TRUE(out.setPosition(4));
        EXPECT_FALSE(out.setPosition(5));
        EXPECT_FALSE(out.setPosition(-1));
        EXPECT_TRUE(out.close());
        EXPECT_FALSE(out.isOpen());
        EXPECT_FALSE(out.writeByte('e'));
        EXPECT_FALSE(out.write(bytes, 1));
        EXPECT_EQ(out.streamSize(), 0);
        EXPECT_EQ(out.position(), 0);
        EXPECT_FALSE(out.setPosition(0));
    }
    EXPECT_EQ(slurp(target), "AXcd");

    // Opening an existing file empties it.
    {
        FileOutputStream out;
        EXPECT_TRUE(out.open(path(target)));
    }
    EXPECT_EQ(slurp(target), "");
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(target)));
}

TEST_F(StreamTest, FileOutputRefusesRelativeAndUnnarrowablePaths)
{
    FileOutputStream out;
    EXPECT_FALSE(out.open(CAppsString()));
    const char* relative = "io_relative_probe_dir/x.txt";
    EXPECT_FALSE(out.open(CAppsString(relative)));
    EXPECT_FALSE(QDir("io_relative_probe_dir").exists());
    EXPECT_FALSE(out.isOpen());

    CAppsString wide = path(dir() + "/w");
    wide += (unsigned short)0x012F;  // low byte is '/'
    wide += "f.txt";
    EXPECT_FALSE(out.open(wide));
    EXPECT_FALSE(QFileInfo::exists(QString::fromStdString(dir() + "/w")));

    // A parent that cannot be had: a file stands where the directory should.
    spit(dir() + "/plain", "x");
    EXPECT_FALSE(out.open(path(dir() + "/plain/f.txt")));
    EXPECT_FALSE(out.isOpen());
}

TEST_F(StreamTest, FileOutputCloseReportsUndeliverableData)
{
    if (!QFileInfo::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    FileOutputStream out;
    ASSERT_TRUE(out.open(CAppsString("/dev/full")));
    EXPECT_TRUE(out.writeByte('x'));  // buffered
    EXPECT_FALSE(out.close());
}

TEST_F(StreamTest, MemoryInputPositionsAndBounds)
{
    Counting<MemoryInputStream> in;
    EXPECT_FALSE(in.isOpen());
    const TUint8 data[] = {10, 20, 30};
    in.setBuffer(data, 3);
    EXPECT_TRUE(in.isOpen());
    EXPECT_EQ(in.streamSize(), 3);
    EXPECT_EQ(in.readByte(), 10);

    TUint8 buf[4] = {};
    EXPECT_FALSE(in.read(buf, 4));  // more than the whole buffer
    EXPECT_EQ(in.position(), 3);    // failure moves to the end
    EXPECT_EQ(in.errors, 1);
    EXPECT_EQ(in.readByte(), -1);
    EXPECT_EQ(in.errors, 2);

    // setPosition(length) moves but reports false; the stream is then at end.
    EXPECT_TRUE(in.setPosition(2));
    EXPECT_FALSE(in.setPosition(3));
    EXPECT_EQ(in.position(), 3);
    EXPECT_TRUE(in.isEof());
    EXPECT_FALSE(in.setPosition(10));
    EXPECT_EQ(in.position(), 10);

    // A negative offset lands far past the end; no read may wrap around.
    EXPECT_FALSE(in.setPosition(-1));
    EXPECT_EQ(in.position(), -1);
    EXPECT_TRUE(in.isEof());
    EXPECT_FALSE(in.read(buf, 2));
    EXPECT_EQ(in.position(), 3);
    EXPECT_EQ(in.readByte(), -1);

    EXPECT_TRUE(in.setPosition(0));
    EXPECT_TRUE(in.read(buf, 3));
    EXPECT_EQ(buf[2], 30);
    in.close();  // nothing to release
    EXPECT_EQ(in.streamSize(), 3);

    // An empty vector (null data) is an empty buffer.
    Vec<TUint8> empty;
    MemoryInputStream fromVector(empty);
    EXPECT_TRUE(fromVector.isOpen());
    EXPECT_TRUE(fromVector.isEof());
    EXPECT_TRUE(fromVector.read(buf, 0));
    Vec<TUint8> some{1, 2};
    fromVector.setBuffer(some);
    some[0] = 9;  // a copy was taken
    EXPECT_EQ(fromVector.readByte(), 1);
}

TEST_F(StreamTest, MemoryOutputAppendsOverwritesAndRefusesGaps)
{
    Vec<TUint8> target;
    {
        MemoryOutputStream out(&target);
        EXPECT_TRUE(out.isOpen());
        const TUint8 abc[] = {'a', 'b', 'c'};
        EXPECT_TRUE(out.write(abc, 3));
        EXPECT_EQ(out.position(), 3);
        EXPECT_TRUE(out.setPosition(1));
        EXPECT_TRUE(out.writeByte('X'));
        EXPECT_EQ(out.streamSize(), 3);
        EXPECT_TRUE(out.setPosition(3));
        EXPECT_TRUE(out.writeByte('d'));
        EXPECT_FALSE(out.setPosition(5));
        EXPECT_FALSE(out.writeByte('e'));  // would leave a gap
        EXPECT_FALSE(out.write(abc, 1));
        // A negative position is never written through.
        EXPECT_FALSE(out.setPosition(-2));
        EXPECT_EQ(out.position(), 0);
        EXPECT_FALSE(out.writeByte('z'));
        EXPECT_TRUE(out.setPosition(0));
        EXPECT_TRUE(out.close());
        EXPECT_FALSE(out.writeByte('q'));  // closed
    }
    ASSERT_EQ(target.count(), 4);  // the caller's vector outlives the stream
    EXPECT_EQ(std::string(reinterpret_cast<char*>(target.data()), 4), "aXcd");

    MemoryOutputStream owned;
    EXPECT_TRUE(owned.writeByte(1));
    ASSERT_NE(owned.buffer(), nullptr);
    EXPECT_EQ(owned.buffer()->count(), 1);
    EXPECT_TRUE(owned.close());
    EXPECT_EQ(owned.buffer(), nullptr);
    EXPECT_TRUE(owned.close());  // releases once
    EXPECT_EQ(owned.streamSize(), 0);
    EXPECT_FALSE(owned.writeByte(2));
}

// ---------------------------------------------------------------------------
// Stream holders

namespace {

struct StreamHolderTest : StreamTest {
    Vec<Vec<int> > refs, arrays;
    Vec<Vec<char> > flags;
    vm::VMSpace space;
    vm::VMHeap heap{space, 64000, nullptr, refs, arrays, flags};

    template <typename F>
    std::string vmError(F aCall)
    {
        vm::clearPendingError();
        try {
            aCall();
        } catch (const vm::ErrorHandlingException&) {
            return vm::toLatin1(vm::pendingError().text);
        }
        return "";
    }
};

struct Tracked : MemoryOutputStream {
    explicit Tracked(bool* aDestroyed) : iDestroyed(aDestroyed) {}
    ~Tracked() override { *iDestroyed = true; }
    bool* iDestroyed;
};

}  // namespace

using vm::StreamHolder;

TEST_F(StreamHolderTest, CollectionClosesTheFile)
{
    std::string file = dir() + "/held.txt";
    auto* out = new FileOutputStream;
    ASSERT_TRUE(out->open(path(file)));
    vm::Addr holder = StreamHolder::createWriterHolder(heap, out);
    EXPECT_EQ(heap.gcCodeOf(holder), vm::GC_CODE_STREAM);
    EXPECT_EQ(heap.payloadSize(holder), 8u);
    EXPECT_EQ(space.loadWord(holder), StreamHolder::FILE_WRITER_TYPE_ID);
    EXPECT_EQ(StreamHolder::getOutputStream(heap, holder), out);
    EXPECT_TRUE(out->writeByte('k'));
    EXPECT_EQ(slurp(file), "");  // still buffered in the open file

    heap.addRoot(holder);
    heap.collect();
    EXPECT_EQ(slurp(file), "");
    heap.removeRoot(holder);
    heap.collect();  // unreachable: freed, stream destroyed, file closed
    EXPECT_EQ(slurp(file), "k");
    EXPECT_EQ(heap.nOfEntries(), 0);
    EXPECT_EQ(heap.objectCount(), 0);
}

TEST_F(StreamHolderTest, DestructReleasesOnceAndAccessChecksTheTypeId)
{
    bool destroyed = false;
    vm::Addr writer = StreamHolder::createWriterHolder(heap, new Tracked(&destroyed));
    MemoryInputStream* input = new MemoryInputStream;
    vm::Addr reader = StreamHolder::createReaderHolder(heap, input);
    EXPECT_EQ(StreamHolder::getInputStream(heap, reader), input);

    EXPECT_EQ(vmError([&] { StreamHolder::getInputStream(heap, writer); }), "VMException: Invalid TYPEID");
    EXPECT_EQ(vmError([&] { StreamHolder::getOutputStream(heap, reader); }), "VMException: Invalid TYPEID");
    EXPECT_EQ(vmError([&] { StreamHolder::getInputStream(heap, 0); }), "NullPointerException: NULL pointer");

    // Bytecode rewrites the TYPEID: the stream's kind still decides.
    space.storeWord(reader, StreamHolder::FILE_WRITER_TYPE_ID);
    EXPECT_EQ(vmError([&] { StreamHolder::getOutputStream(heap, reader); }), "VMException: Invalid TYPEID");
    space.storeWord(reader, 77);
    EXPECT_EQ(vmError([&] { StreamHolder::destruct(heap, reader); }), "VMException: Invalid TYPEID");
    space.storeWord(reader, StreamHolder::FILE_READER_TYPE_ID);
    EXPECT_EQ(StreamHolder::getInputStream(heap, reader), input);

    // Some other block is no holder, whatever its first word says.
    vm::Addr other = heap.alloc(8, 0, vm::GC_CODE_NATIVE);
    space.storeWord(other, StreamHolder::FILE_READER_TYPE_ID);
    EXPECT_EQ(vmError([&] { StreamHolder::getInputStream(heap, other); }), "VMException: Invalid TYPEID");
    EXPECT_EQ(vmError([&] { StreamHolder::destruct(heap, other); }), "VMException: Invalid TYPEID");

    // A handle copied into another holder names nothing there.
    vm::Addr forged = StreamHolder::createReaderHolder(heap, nullptr);
    EXPECT_EQ(StreamHolder::getInputStream(heap, forged), nullptr);
    space.storeWord(forged + 4, space.loadWord(reader + 4));
    EXPECT_EQ(StreamHolder::getInputStream(heap, forged), nullptr);

    StreamHolder::destruct(heap, writer);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(StreamHolder::getOutputStream(heap, writer), nullptr);
    StreamHolder::destruct(heap, writer);  // idempotent
    EXPECT_EQ(heap.objectCount(), 1);

    heap.freeObject(reader);
    EXPECT_EQ(heap.objectCount(), 0);
}
