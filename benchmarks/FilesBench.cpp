// File and compression speed, each against its plain C reference in the
// same run (rounds alternate; the best round of each side counts):
//  - write a 10 MB file in 4 KiB chunks through the FileWriter and
//    OutputStream natives, then read it back in 4 KiB chunks through the
//    FileReader and InputStream natives (each read makes its array, the
//    garbage is collected at the end), against fwrite/fread on C stdio.
//    Each side first removes, untimed, the file its previous round left:
//    truncating 10 MiB of a file that may still be dirty in the page cache
//    took 0-9 ms at random, more than the difference being measured. The
//    write and read phases are reported apart as well;
//  - compress and decompress 10 MB through ZLib against calling zlib's
//    compress2/uncompress directly.
// Both sides check their results; a mismatch ends the run with status 1.
#include <zlib.h>

#include <QTemporaryDir>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "HeadlessHost.h"
#include "IO/ApplicationFiles.h"
#include "Containers/OVector.h"
#include "ObjectModel.h"
#include "StringObjects.h"
#include "Utility/Compress.h"
#include "VirtualMachine.h"

namespace {

constexpr int kChunk = 4096;
constexpr int kChunks = 2560;  // 10 MiB
constexpr int kRounds = 11;

class FileHost : public vm::HeadlessHost {
public:
    explicit FileHost(const CAppsString& aDirectory) : files(aDirectory) {}
    KELVAR::OutputStream* openOutputStream(const OString& p, int truncate) override
    {
        return files.openOutputStream(p, truncate);
    }
    KELVAR::InputStream* openInputStream(const OString& p, int) override { return files.openInputStream(p); }
    ApplicationFiles files;
};

double seconds(std::chrono::steady_clock::time_point aStart)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - aStart).count();
}

[[noreturn]] void fail(const char* aWhat)
{
    std::fprintf(stderr, "FilesBench: %s\n", aWhat);
    std::exit(1);
}

// Seconds of one round: the whole, and its write phase (open to close).
struct Round {
    double total = 1e9, write = 0;
};

Round best(Round a, Round b)
{
    return a.total <= b.total ? a : b;
}

// Natives: writing and reading back; the read phase includes the collection
// of the arrays that the reads made.
Round nativesRound(vm::VirtualMachine& aVm, const std::string& aPath, const std::string& aData)
{
    using vm::Word;
    vm::VMHeap& heap = aVm.heap();
    aVm.top = -1;
    Word object = Word(vm::newBox(heap, 0));
    Word name = Word(vm::newStringObject(heap, OString("bench.bin")));
    Word chunk = Word(vm::newByteVector(heap, aData.data(), kChunk));
    aVm.push(object);
    aVm.push(name);
    aVm.push(chunk);  // slots 0-2 keep them alive
    std::remove(aPath.c_str());
    auto start = std::chrono::steady_clock::now();
    aVm.push(object);
    aVm.push(name);
    aVm.push(0);
    aVm.callNative(22, 1);  // open, truncating
    for (int i = 0; i < kChunks; ++i) {
        std::memcpy(vm::OVector::ofHolder(heap, vm::Addr(chunk), 1).data(), aData.data() + size_t(i) * kChunk, kChunk);
        aVm.push(object);
        aVm.push(chunk);
        aVm.callNative(21, 3);
    }
    aVm.push(object);
    aVm.callNative(21, 1);  // close
    double write = seconds(start);
    aVm.push(object);
    aVm.push(name);
    aVm.callNative(24, 1);  // open for reading
    for (int i = 0; i < kChunks; ++i) {
        aVm.push(object);
        aVm.push(kChunk);
        aVm.callNative(23, 3);
        if (std::memcmp(vm::OVector::ofHolder(heap, vm::Addr(aVm.arg(0)), 1).data(), aData.data() + size_t(i) * kChunk,
                        kChunk) != 0)
            fail("natives read back other bytes");
        aVm.pop(1);
    }
    aVm.push(object);
    aVm.callNative(23, 1);
    aVm.collectWithStack();
    Round r{seconds(start), write};
    aVm.top = -1;
    return r;
}

Round stdioRound(const std::string& aPath, const std::string& aData)
{
    std::vector<char> buffer(kChunk);
    std::remove(aPath.c_str());
    auto start = std::chrono::steady_clock::now();
    std::FILE* out = std::fopen(aPath.c_str(), "wb");
    for (int i = 0; i < kChunks; ++i) {
        std::memcpy(buffer.data(), aData.data() + size_t(i) * kChunk, kChunk);
        if (!out || std::fwrite(buffer.data(), 1, kChunk, out) != size_t(kChunk))
            fail("fwrite failed");
    }
    if (std::fclose(out) != 0)
        fail("fclose failed");
    double write = seconds(start);
    std::FILE* in = std::fopen(aPath.c_str(), "rb");
    for (int i = 0; i < kChunks; ++i) {
        if (!in || std::fread(buffer.data(), 1, kChunk, in) != size_t(kChunk) ||
            std::memcmp(buffer.data(), aData.data() + size_t(i) * kChunk, kChunk) != 0)
            fail("stdio read back other bytes");
    }
    std::fclose(in);
    return Round{seconds(start), write};
}

double zlibRound(const Vec<signed char>& aData)
{
    auto start = std::chrono::steady_clock::now();
    Vec<signed char> packed, unpacked;
    if (!ZLib::compress(aData, packed, Z_DEFAULT_COMPRESSION) || !ZLib::unCompress(packed, unpacked))
        fail("ZLib failed");
    double elapsed = seconds(start);
    if (unpacked.count() != aData.count() || std::memcmp(unpacked.data(), aData.data(), size_t(aData.count())) != 0)
        fail("ZLib round trip differs");
    return elapsed;
}

double directZlibRound(const Vec<signed char>& aData)
{
    auto start = std::chrono::steady_clock::now();
    uLongf packedSize = compressBound(uLong(aData.count()));
    std::vector<Bytef> packed(packedSize);
    if (compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(aData.data()), uLong(aData.count()),
                  Z_DEFAULT_COMPRESSION) != Z_OK)
        fail("compress2 failed");
    uLongf size = uLongf(aData.count());
    std::vector<Bytef> unpacked(size);
    if (uncompress(unpacked.data(), &size, packed.data(), packedSize) != Z_OK)
        fail("uncompress failed");
    double elapsed = seconds(start);
    if (size != uLongf(aData.count()) || std::memcmp(unpacked.data(), aData.data(), size) != 0)
        fail("zlib round trip differs");
    return elapsed;
}

void report(const char* aWhat, double aOurs, double aReference, const char* aReferenceName, double aTarget)
{
    std::printf("%-44s %8.1f ms   %-10s %8.1f ms   ratio %.2f (target <= %.1f)\n", aWhat, aOurs * 1e3,
                aReferenceName, aReference * 1e3, aOurs / aReference, aTarget);
}

}  // namespace

// Optional argument "files" or "zlib": run that part only.
int main(int argc, char** argv)
{
    std::string only = argc > 1 ? argv[1] : "";
    bool files = only != "zlib", zlib = only != "files";
    QTemporaryDir dir;
    if (!dir.isValid())
        fail("no temporary directory");
    std::string path = dir.path().toStdString();
    std::mt19937 random(5);
    std::string data(size_t(kChunk) * kChunks, '\0');
    for (char& c : data)
        c = char(random());
    // Text-like data for compression: words from a small alphabet.
    Vec<signed char> text;
    text.resize(int(data.size()));
    for (int i = 0; i < text.count(); ++i)
        text[i] = (random() % 6 == 0) ? ' ' : char('a' + random() % 12);

    FileHost host{CAppsString(std::string_view(path))};
    vm::VirtualMachine machine;
    machine.setHost(&host);
    Round natives, stdio;
    double ours = 1e9, direct = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        if (files) {
            natives = best(natives, nativesRound(machine, path + "/bench.bin", data));
            stdio = best(stdio, stdioRound(path + "/stdio.bin", data));
        }
        if (zlib) {
            ours = std::min(ours, zlibRound(text));
            direct = std::min(direct, directZlibRound(text));
        }
    }
    if (files) {
        report("write + read 10 MiB in 4 KiB chunks: natives", natives.total, stdio.total, "C stdio", 1.5);
        std::printf("  of which write %.1f ms / %.1f ms (%.2f), read %.1f ms / %.1f ms (%.2f)\n", natives.write * 1e3,
                    stdio.write * 1e3, natives.write / stdio.write, (natives.total - natives.write) * 1e3,
                    (stdio.total - stdio.write) * 1e3, (natives.total - natives.write) / (stdio.total - stdio.write));
    }
    if (zlib)
        report("compress + decompress 10 MiB: ZLib", ours, direct, "zlib", 1.1);
    return 0;
}
