// ZLib: round trips of random data, compatibility both ways with pigz (an
// independent zlib user), truncated and corrupted streams, the output limit
// and the file-range form on real files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QTemporaryDir>
#include <cstdio>
#include <random>
#include <string>

#include "IO/CAppsFileReader.h"
#include "IO/CAppsFileWriter.h"
#include "TestSupport.h"
#include "Utility/Compress.h"

namespace {

Vec<signed char> toVec(const std::string& aBytes)
{
    Vec<signed char> v;
    v.resize(int(aBytes.size()));
    std::copy(aBytes.begin(), aBytes.end(), v.data());
    return v;
}

std::string toString(const Vec<signed char>& aBytes)
{
    return std::string(reinterpret_cast<const char*>(aBytes.data()), size_t(aBytes.count()));
}

// Random bytes; aAlphabet < 256 makes them compressible.
std::string randomBytes(size_t aSize, unsigned aSeed, int aAlphabet = 256)
{
    std::mt19937 random(aSeed);
    std::string s(aSize, '\0');
    for (char& c : s)
        c = char(random() % unsigned(aAlphabet));
    return s;
}

// Runs a shell command with aInput on its standard input; returns its
// standard output.
std::string pipeThrough(const std::string& aCommand, const std::string& aInput, const std::string& aDir)
{
    std::string in = aDir + "/pipe.in", out = aDir + "/pipe.out";
    spit(in, aInput);
    int status = std::system((aCommand + " < " + in + " > " + out).c_str());
    EXPECT_EQ(status, 0) << aCommand;
    return slurp(out);
}

struct Compress : ::testing::Test {
    QTemporaryDir tmp;
    std::string dir() const { return tmp.path().toStdString(); }
};

}  // namespace

TEST_F(Compress, EmptyInputsGiveEmptyOutputs)
{
    Vec<signed char> out{1, 2, 3};
    EXPECT_TRUE(ZLib::compress(Vec<signed char>(), out, 6));
    EXPECT_EQ(out.count(), 0);
    out.append(5);
    EXPECT_TRUE(ZLib::unCompress(Vec<signed char>(), out));
    EXPECT_EQ(out.count(), 0);
}

TEST_F(Compress, RoundTripsOfSeveralSizesAndLevels)
{
    const size_t sizes[] = {1, 2047, 2048, 2049, 65536, 300001};
    unsigned seed = 1;
    for (size_t size : sizes) {
        for (int alphabet : {256, 4}) {
            std::string data = randomBytes(size, seed++, alphabet);
            for (int level : {-1, 0, 1, 9}) {
                Vec<signed char> packed, unpacked;
                ASSERT_TRUE(ZLib::compress(toVec(data), packed, level)) << size << " " << level;
                ASSERT_TRUE(ZLib::unCompress(packed, unpacked)) << size << " " << level;
                EXPECT_EQ(toString(unpacked), data) << size << " " << level;
                if (alphabet == 4 && level != 0 && size > 1000) {
                    EXPECT_LT(packed.count(), int(size / 2));
                }
            }
        }
    }
    Vec<signed char> out;
    EXPECT_FALSE(ZLib::compress(toVec("abc"), out, 10));
    EXPECT_FALSE(ZLib::compress(toVec("abc"), out, -2));
}

TEST_F(Compress, ReadsAndWritesWhatPigzWritesAndReads)
{
    for (size_t size : {size_t(10), size_t(5000), size_t(200000)}) {
        std::string data = randomBytes(size, unsigned(size), 16);
        std::string theirs = pipeThrough("pigz -z -c", data, dir());
        Vec<signed char> unpacked;
        ASSERT_TRUE(ZLib::unCompress(toVec(theirs), unpacked)) << size;
        EXPECT_EQ(toString(unpacked), data);
        Vec<signed char> ours;
        ASSERT_TRUE(ZLib::compress(toVec(data), ours, 6));
        EXPECT_EQ(pipeThrough("pigz -d -z -c", toString(ours), dir()), data);
    }
}

TEST_F(Compress, TruncatedOrCorruptedStreamsEndWithFalse)
{
    std::string data = randomBytes(50000, 7, 8);
    Vec<signed char> packed;
    ASSERT_TRUE(ZLib::compress(toVec(data), packed, 6));
    std::string whole = toString(packed);
    for (size_t cut : {size_t(1), size_t(2), size_t(4), whole.size() / 2, whole.size() - 2}) {
        Vec<signed char> out;
        EXPECT_FALSE(ZLib::unCompress(toVec(whole.substr(0, whole.size() - cut)), out)) << cut;
        EXPECT_LE(out.count(), int(data.size()));
    }
    std::string flipped = whole;
    flipped[whole.size() / 3] = char(flipped[whole.size() / 3] ^ 0x55);
    Vec<signed char> out;
    EXPECT_FALSE(ZLib::unCompress(toVec(flipped), out));
    std::string badChecksum = whole;
    badChecksum.back() = char(badChecksum.back() ^ 1);
    EXPECT_FALSE(ZLib::unCompress(toVec(badChecksum), out));
    EXPECT_FALSE(ZLib::unCompress(toVec("not a zlib stream"), out));
    // A stream that asks for a preset dictionary.
    EXPECT_FALSE(ZLib::unCompress(toVec(std::string("\x78\xBB\x00\x00\x00\x01", 6)), out));
    // Random garbage of every length never loops and never fails otherwise.
    for (unsigned seed = 0; seed < 200; ++seed) {
        std::string junk = "\x78\x9C" + randomBytes(seed % 40, seed);
        ZLib::unCompress(toVec(junk), out);
    }
    // Bytes after the end of the stream are ignored.
    EXPECT_TRUE(ZLib::unCompress(toVec(whole + "trailing"), out));
    EXPECT_EQ(toString(out), data);
}

TEST_F(Compress, ABombStopsAtTheOutputLimit)
{
    // 80 MiB of zeros (beyond the limit), deflated by zlib directly in 1 MiB
    // steps into about 80 KB.
    std::string zeros(1 << 20, '\0');
    z_stream strm{};
    ASSERT_EQ(deflateInit(&strm, 9), Z_OK);
    std::string bomb;
    std::string chunk(1 << 16, '\0');
    for (int i = 0; i < 80; ++i) {
        strm.next_in = reinterpret_cast<Bytef*>(zeros.data());
        strm.avail_in = uInt(zeros.size());
        int flush = i == 79 ? Z_FINISH : Z_NO_FLUSH;
        do {
            strm.next_out = reinterpret_cast<Bytef*>(chunk.data());
            strm.avail_out = uInt(chunk.size());
            deflate(&strm, flush);
            bomb.append(chunk.data(), chunk.size() - strm.avail_out);
        } while (strm.avail_out == 0);
    }
    deflateEnd(&strm);
    EXPECT_LT(bomb.size(), 100000u);
    Vec<signed char> out;
    EXPECT_FALSE(ZLib::unCompress(toVec(bomb), out));
    EXPECT_LE(out.count(), int(ZLib::kDefaultLimit));
    EXPECT_GT(out.count(), int(ZLib::kDefaultLimit) - ZLib::kChunk);
    // A smaller limit given by the caller.
    Vec<signed char> mega;
    ASSERT_TRUE(ZLib::compress(toVec(zeros), mega, 9));
    EXPECT_FALSE(ZLib::unCompress(mega, out, 1000));
    EXPECT_TRUE(ZLib::unCompress(mega, out, 1 << 20));
    EXPECT_EQ(out.count(), 1 << 20);
}

TEST_F(Compress, FileRangeFormInflatesTheNextLengthBytes)
{
    std::string data = randomBytes(100000, 3, 32);
    Vec<signed char> packed;
    ASSERT_TRUE(ZLib::compress(toVec(data), packed, 6));
    std::string stream = toString(packed);
    spit(dir() + "/in.bin", "HEAD" + stream + "TAIL");
    for (int chunk : {1, 7, 2048, 1 << 20}) {
        CAppsFileReader reader(CAppsString(std::string_view(dir() + "/in.bin")));
        CAppsFileWriter writer(CAppsString(std::string_view(dir() + "/out.bin")));
        ASSERT_TRUE(reader.setPosition(4));
        ASSERT_TRUE(ZLib::unCompress(reader, writer, int(stream.size()), chunk)) << chunk;
        writer.close();
        EXPECT_EQ(slurp(dir() + "/out.bin"), data) << chunk;
        EXPECT_LE(reader.position(), int(4 + stream.size()));  // never beyond the range
    }
    CAppsFileReader reader(CAppsString(std::string_view(dir() + "/in.bin")));
    CAppsFileWriter writer(CAppsString(std::string_view(dir() + "/out2.bin")));
    EXPECT_TRUE(ZLib::unCompress(reader, writer, 0, 16));
    EXPECT_FALSE(ZLib::unCompress(reader, writer, -1, 16));
    EXPECT_FALSE(ZLib::unCompress(reader, writer, 10, 0));
    EXPECT_FALSE(ZLib::unCompress(reader, writer, int(stream.size()) + 9, 16));  // more than remains
    ASSERT_TRUE(reader.setPosition(4));
    EXPECT_FALSE(ZLib::unCompress(reader, writer, int(stream.size()) - 1, 64));  // the range ends first
    ASSERT_TRUE(reader.setPosition(0));
    EXPECT_FALSE(ZLib::unCompress(reader, writer, 100, 64));  // "HEAD" is no stream
    CAppsFileReader closed(CAppsString(std::string_view(dir() + "/missing")));
    EXPECT_FALSE(ZLib::unCompress(closed, writer, 1, 16));
    CAppsFileWriter unopened(CAppsString("relative/path"));
    ASSERT_TRUE(reader.setPosition(4));
    EXPECT_FALSE(ZLib::unCompress(reader, unopened, int(stream.size()), 16));
    // The limit holds for files too.
    ASSERT_TRUE(reader.setPosition(4));
    EXPECT_FALSE(ZLib::unCompress(reader, writer, int(stream.size()), 64, 1000));
}
