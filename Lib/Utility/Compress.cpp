#include "Compress.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "../IO/CAppsFileReader.h"
#include "../IO/CAppsFileWriter.h"
#include "../VirtualMachine/VMError.h"

namespace {

// Appends aCount bytes, growing the capacity geometrically.
void appendBytes(Vec<signed char>& aOut, const unsigned char* aBytes, int aCount)
{
    if (aCount <= 0)
        return;
    int count = aOut.count();
    if (TInt64(count) + aCount > aOut.capacity())
        aOut.setCapacity(int(std::min<TInt64>(0x7FFFFFFF, std::max<TInt64>(TInt64(aOut.capacity()) * 2, TInt64(count) + aCount))));
    aOut.resize(count + aCount);
    std::memcpy(aOut.data() + count, aBytes, size_t(aCount));
}

// An inflate stream that ends itself.
struct Inflater {
    z_stream strm{};
    bool ready = false;
    Inflater() { ready = inflateInit(&strm) == Z_OK; }
    ~Inflater()
    {
        if (ready)
            inflateEnd(&strm);
    }
    // One inflate call into aOut (aSize bytes); returns zlib's result with
    // the data errors folded into Z_DATA_ERROR.
    int step(unsigned char* aOut, uInt aSize)
    {
        strm.next_out = aOut;
        strm.avail_out = aSize;
        int ret = inflate(&strm, Z_NO_FLUSH);
        KELVAR_ASSERT(ret != (-2));
        return ret == Z_NEED_DICT || ret == Z_MEM_ERROR ? Z_DATA_ERROR : ret;
    }
};

}  // namespace

bool ZLib::compress(const Vec<signed char>& aIn, Vec<signed char>& aOut, int aLevel)
{
    aOut.clear();
    if (aIn.isEmpty())
        return true;
    z_stream strm{};
    if (deflateInit(&strm, aLevel) != Z_OK)
        return false;
    aOut.setCapacity(int(std::min<uLong>(0x7FFFFFFF, deflateBound(&strm, uLong(aIn.count())))));
    strm.next_in = reinterpret_cast<Bytef*>(const_cast<signed char*>(aIn.data()));
    strm.avail_in = uInt(aIn.count());
    unsigned char chunk[kChunk];
    int ret;
    do {
        strm.next_out = chunk;
        strm.avail_out = kChunk;
        ret = deflate(&strm, Z_FINISH);
        KELVAR_ASSERT(ret != (-2));
        appendBytes(aOut, chunk, kChunk - int(strm.avail_out));
    } while (strm.avail_out == 0);
    KELVAR_ASSERT(strm.avail_in == 0);
    KELVAR_ASSERT(ret == 1);
    deflateEnd(&strm);
    return true;
}

bool ZLib::unCompress(const Vec<signed char>& aIn, Vec<signed char>& aOut, TInt64 aLimit)
{
    aOut.clear();
    if (aIn.isEmpty())
        return true;
    Inflater inflater;
    if (!inflater.ready)
        return false;
    inflater.strm.next_in = reinterpret_cast<Bytef*>(const_cast<signed char*>(aIn.data()));
    inflater.strm.avail_in = uInt(aIn.count());
    unsigned char chunk[kChunk];
    for (;;) {
        int ret = inflater.step(chunk, kChunk);
        if (ret != Z_OK && ret != Z_STREAM_END)
            return false;  // a data error, or no progress: the input ended first
        int produced = kChunk - int(inflater.strm.avail_out);
        if (aOut.count() + TInt64(produced) > aLimit)
            return false;
        appendBytes(aOut, chunk, produced);
        if (ret == Z_STREAM_END && inflater.strm.avail_out != 0)
            return true;
    }
}

bool ZLib::unCompress(CAppsFileReader& aReader, CAppsFileWriter& aWriter, int aLength, int aChunk, TInt64 aLimit)
{
    if (!aReader.isOpen() || !aWriter.isOpen() || aLength < 0 || aChunk <= 0)
        return false;
    if (TInt64(aReader.streamSize()) - aReader.position() < aLength)
        return false;
    if (aLength == 0)
        return true;
    Inflater inflater;
    if (!inflater.ready)
        return false;
    std::unique_ptr<unsigned char[]> input(new unsigned char[size_t(aChunk)]);
    std::unique_ptr<unsigned char[]> output(new unsigned char[size_t(aChunk)]);
    TInt64 written = 0;
    int remaining = aLength;
    bool outputFull = false;  // inflate may hold more output for the same input
    for (;;) {
        if (inflater.strm.avail_in == 0 && !outputFull) {
            if (remaining == 0)
                return false;  // the range ended before the stream
            int n = std::min(remaining, aChunk);
            if (!aReader.read(input.get(), TUint32(n)))
                return false;
            remaining -= n;
            inflater.strm.next_in = input.get();
            inflater.strm.avail_in = uInt(n);
        }
        int ret = inflater.step(output.get(), uInt(aChunk));
        if (ret == Z_BUF_ERROR && inflater.strm.avail_in == 0) {
            outputFull = false;  // nothing was pending: more input is needed
            continue;
        }
        if (ret != Z_OK && ret != Z_STREAM_END)
            return false;
        int produced = aChunk - int(inflater.strm.avail_out);
        outputFull = inflater.strm.avail_out == 0;
        written += produced;
        if (written > aLimit)
            return false;
        if (produced > 0 && !aWriter.writeByteBufferToFile(output.get(), produced))
            return false;
        if (ret == Z_STREAM_END)
            return true;
    }
}
