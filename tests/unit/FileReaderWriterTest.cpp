#include <gtest/gtest.h>

#include "TestSupport.h"

#include <QTemporaryDir>

#include <climits>
#include <fstream>
#include <sstream>
#include <string>

#include "Containers/OString.h"
#include "IO/CAppsFileReader.h"
#include "IO/CAppsFileWriter.h"
#include "IO/FileStream.h"
#include "IO/MemoryStream.h"
#include "VMSpace.h"

namespace {

CAppsString path(const std::string& aPath)
{
    return CAppsString(std::string_view(aPath));
}

struct Reader : CAppsFileReader {
    explicit Reader(const std::string& aBytes)
        : CAppsFileReader(reinterpret_cast<const TUint8*>(aBytes.data()), TUint32(aBytes.size()))
    {
    }
};

std::string bytesOf(const Vec<TUint8>& aVector)
{
    return std::string(reinterpret_cast<const char*>(aVector.data()), size_t(aVector.count()));
}

struct FileReaderWriterTest : ::testing::Test {
    QTemporaryDir tmp;
    vm::VMSpace space;  // OString units live there
    std::string dir() const { return tmp.path().toStdString(); }
};

}  // namespace

TEST_F(FileReaderWriterTest, BigEndianIntegers)
{
    spit(dir() + "/a", std::string("\x00\x00\x01\x02", 4));
    spit(dir() + "/b", std::string("\xFF\xFF\xFF\xFE", 4));
    TInt32 v = 0;
    CAppsFileReader a(path(dir() + "/a"));
    EXPECT_TRUE(a.readInt32(v));
    EXPECT_EQ(v, 258);
    EXPECT_FALSE(a.readInt32(v));
    CAppsFileReader b(path(dir() + "/b"));
    EXPECT_TRUE(b.readInt32(v));
    EXPECT_EQ(v, -2);

    Reader r(std::string("\x80\x01\x01\x02\x03\x04\x05\x06\x07\x08\xAA", 11));
    int16_t s = 0;
    TInt64 l = 0;
    EXPECT_TRUE(r.readInt16(s));
    EXPECT_EQ(s, int16_t(-32767));
    EXPECT_TRUE(r.readInt64(l));
    EXPECT_EQ(l, 0x0102030405060708LL);
    EXPECT_FALSE(r.readInt16(s));  // one byte left
    EXPECT_EQ(s, int16_t(-32767));

    // Round trip through the writer.
    {
        CAppsFileWriter w(path(dir() + "/ints"));
        EXPECT_TRUE(w.writeInt16(-2));
        EXPECT_TRUE(w.writeInt32(0x01020304));
        EXPECT_TRUE(w.writeInt64(-3));
        EXPECT_TRUE(w.close());
    }
    EXPECT_EQ(slurp(dir() + "/ints"), std::string("\xFF\xFE\x01\x02\x03\x04\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFD", 14));
    CAppsFileReader back(path(dir() + "/ints"));
    EXPECT_TRUE(back.readInt16(s));
    EXPECT_TRUE(back.readInt32(v));
    EXPECT_TRUE(back.readInt64(l));
    EXPECT_EQ(s, -2);
    EXPECT_EQ(v, 0x01020304);
    EXPECT_EQ(l, -3);
    EXPECT_TRUE(back.isEof());
}

TEST_F(FileReaderWriterTest, ReadLineRules)
{
    Reader crlf("ab\r\ncd");
    OString line;
    EXPECT_TRUE(crlf.readLine(line));
    EXPECT_EQ(line.toLatin1(), "ab");
    EXPECT_TRUE(crlf.readLine(line));
    EXPECT_EQ(line.toLatin1(), "cd");
    EXPECT_FALSE(crlf.readLine(line));
    EXPECT_TRUE(line.isEmpty());  // cleared even at the end

    // The byte after a lone CR is dropped; control bytes vanish; >= 32 stays.
    Reader lone(std::string("ab\rcd\n\x01t\tx\x7F\xE9\n\nlast", 18));
    CAppsString text;
    EXPECT_TRUE(lone.readLine(text));
    EXPECT_EQ(text.toLatin1(), "ab");
    EXPECT_TRUE(lone.readLine(text));
    EXPECT_EQ(text.toLatin1(), "d");
    EXPECT_TRUE(lone.readLine(text));
    EXPECT_EQ(text.toLatin1(), "tx\x7F\xE9");
    EXPECT_TRUE(lone.readLine(text));
    EXPECT_TRUE(text.isEmpty());
    EXPECT_TRUE(lone.readLine(text));
    EXPECT_EQ(text.toLatin1(), "last");
    EXPECT_FALSE(lone.readLine(text));

    OString s;
    Reader strings(std::string("h\xE9llo", 5));
    EXPECT_FALSE(strings.readString(s, -1));
    EXPECT_TRUE(strings.readString(s, 2));
    EXPECT_EQ(s.length(), 2);
    EXPECT_EQ(s.at(1), u'\xE9');
    EXPECT_FALSE(strings.readString(s, 4));  // three left
    EXPECT_EQ(s.length(), 2);                // left as it was
    EXPECT_TRUE(strings.setPosition(2));
    EXPECT_TRUE(strings.readString(text, 3));
    EXPECT_EQ(text.toLatin1(), "llo");
    EXPECT_TRUE(strings.readString(s, 0));
    EXPECT_TRUE(s.isEmpty());
}

TEST_F(FileReaderWriterTest, ReadBytesGrowsOrRestores)
{
    spit(dir() + "/f", "abcdef");
    CAppsFileReader r(path(dir() + "/f"));
    Vec<unsigned char> v{'x'};
    EXPECT_TRUE(r.readBytes(v, 0));
    EXPECT_EQ(r.position(), 0);
    EXPECT_FALSE(r.readBytes(v, -1));
    EXPECT_TRUE(r.readBytes(v, 2));
    EXPECT_EQ(bytesOf(v), "xab");
    EXPECT_FALSE(r.readBytes(v, 10));  // beyond the end
    EXPECT_EQ(bytesOf(v), "xab");
    EXPECT_TRUE(r.setPosition(3));
    Vec<signed char> sv;
    EXPECT_TRUE(r.readRemaining(sv));
    EXPECT_EQ(sv.count(), 3);
    EXPECT_EQ(sv[0], 'd');
    EXPECT_TRUE(r.readRemaining(sv));  // nothing left: n = 0
    EXPECT_EQ(sv.count(), 3);

    // An overflowing length fails; an absurd count does not reserve its size.
    EXPECT_FALSE(r.readBytes(v, INT_MAX));
    EXPECT_TRUE(r.setPosition(0));
    Vec<unsigned char> big;
    EXPECT_FALSE(r.readBytes(big, INT_MAX - 1));
    EXPECT_EQ(big.count(), 0);
    EXPECT_LT(big.capacity(), 1 << 20);

    // A memory stream moved past its end reads nothing and wraps nothing.
    Reader m("xyz");
    EXPECT_FALSE(m.setPosition(-1));
    EXPECT_FALSE(m.readRemaining(v));
    EXPECT_FALSE(m.setPositionNonNegative(-1));
    EXPECT_TRUE(m.setPositionNonNegative(1));
    EXPECT_EQ(m.position(), 1);
}

TEST_F(FileReaderWriterTest, ReaderAndWriterWithoutUsableStream)
{
    CAppsFileReader missing(path(dir() + "/nope"));
    EXPECT_NE(missing.stream(), nullptr);  // attached though not open
    EXPECT_FALSE(missing.isOpen());
    Vec<unsigned char> v;
    EXPECT_FALSE(missing.readBytes(v, 0));  // needs an open stream
    EXPECT_TRUE(missing.isEof());

    CAppsFileReader none(static_cast<KELVAR::InputStream*>(nullptr));
    TUint8 byte;
    TInt32 i;
    OString line;
    EXPECT_FALSE(none.isOpen());
    EXPECT_TRUE(none.isEof());
    EXPECT_FALSE(none.readByte(byte));
    EXPECT_FALSE(none.read(&byte, 1));
    EXPECT_FALSE(none.readInt32(i));
    EXPECT_FALSE(none.readLine(line));
    EXPECT_FALSE(none.readRemaining(v));
    EXPECT_FALSE(none.setPosition(0));
    EXPECT_EQ(none.position(), 0);
    EXPECT_EQ(none.streamSize(), 0);

    Reader closing("q");
    closing.close();
    EXPECT_EQ(closing.stream(), nullptr);
    EXPECT_FALSE(closing.readByte(byte));

    CAppsFileWriter relative(CAppsString("rel/x.txt"));
    EXPECT_FALSE(relative.isOpen());
    EXPECT_FALSE(relative.writeByte(1));
    CAppsFileWriter nowhere(static_cast<KELVAR::OutputStream*>(nullptr));
    EXPECT_FALSE(nowhere.writeString(CAppsString("x")));
    EXPECT_FALSE(nowhere.writeInt32(1));
    EXPECT_TRUE(nowhere.close());
}

TEST_F(FileReaderWriterTest, WriterRangesAndStrings)
{
    Vec<TUint8> out;
    CAppsFileWriter w(new KELVAR::MemoryOutputStream(&out));
    Vec<signed char> data{'0', '1', '2', '3', '4'};
    EXPECT_TRUE(w.writeBytes(data, 99, 0));  // count 0 succeeds at once
    EXPECT_FALSE(w.writeBytes(data, -1, 1));
    EXPECT_FALSE(w.writeBytes(data, 4, 2));
    EXPECT_FALSE(w.writeBytes(data, 6, -1));
    EXPECT_FALSE(w.writeBytes(data, 1, INT_MAX));
    EXPECT_TRUE(w.writeBytes(data, 1, 2));
    EXPECT_TRUE(w.writeBytes(data, 3, -1));  // to the end
    EXPECT_TRUE(w.writeBytes(data, 5, -1));  // empty tail
    EXPECT_EQ(bytesOf(out), "1234");

    const TUint8 raw[] = {'!'};
    EXPECT_FALSE(w.writeByteBufferToFile(raw, -1));
    EXPECT_FALSE(w.writeByteBufferToFile(nullptr, 1));
    EXPECT_TRUE(w.writeByteBufferToFile(raw, 1));

    CAppsString wide;
    wide += (unsigned short)0x0141;  // low byte 'A'
    wide += "b";
    EXPECT_TRUE(w.writeString(wide));
    EXPECT_TRUE(w.writeLine(OString(u"cd")));
    EXPECT_TRUE(w.writeLine(CAppsString()));
    EXPECT_TRUE(w.writeString(OString()));
    EXPECT_EQ(bytesOf(out), "1234!Abcd\n\n");
    EXPECT_TRUE(w.close());
    EXPECT_FALSE(w.isOpen());
    EXPECT_FALSE(w.writeByte('x'));

    // File writer: parents made, text round trip through the reader.
    std::string file = dir() + "/deep/er/t.txt";
    {
        CAppsFileWriter f(path(file));
        EXPECT_TRUE(f.isOpen());
        EXPECT_TRUE(f.writeLine(CAppsString("one")));
        EXPECT_TRUE(f.writeByte('2'));
    }
    EXPECT_EQ(slurp(file), "one\n2");
    CAppsFileReader r(path(file));
    EXPECT_EQ(r.fileName().toLatin1(), file);
    CAppsString text;
    EXPECT_TRUE(r.readLine(text));
    EXPECT_EQ(text.toLatin1(), "one");
    TUint8 byte = 0;
    EXPECT_TRUE(r.readByte(byte));
    EXPECT_EQ(byte, '2');
    EXPECT_FALSE(r.readByte(byte));
}
