// ZLib: deflate and inflate of byte vectors and of a file range, over the
// zlib library (zlib format, default window and memory settings). A library
// facility: every failure is a false result; the output then holds what was
// produced before the failure.
//
// Inflating stops with false once the output would pass aLimit bytes
// (kDefaultLimit unless given), so a small stream that expands enormously
// (a decompression bomb) cannot exhaust memory or the disk. A stream that is
// cut short or corrupted ends with false; inflation never loops without
// progress.
#pragma once

#include "../Containers/Vec.h"

class CAppsFileReader;
class CAppsFileWriter;

class ZLib {
public:
    ZLib() = delete;

    static constexpr TInt64 kDefaultLimit = 64LL << 20;  // 64 MiB of output
    static constexpr int kChunk = 2048;

    // Clears aOut; an empty input gives an empty output. aLevel is zlib's
    // (-1 default, 0..9); any other level fails.
    static bool compress(const Vec<signed char>& aIn, Vec<signed char>& aOut, int aLevel);
    // Clears aOut; an empty input gives an empty output. Bytes after the end
    // of the stream are ignored.
    static bool unCompress(const Vec<signed char>& aIn, Vec<signed char>& aOut, TInt64 aLimit = kDefaultLimit);
    // Inflates the next aLength bytes of aReader into aWriter, reading at
    // most aChunk bytes at a time. Fails when either is not open, aLength < 0,
    // aChunk <= 0, fewer than aLength bytes remain, or the range ends before
    // the stream. aLength 0 succeeds at once.
    static bool unCompress(CAppsFileReader& aReader, CAppsFileWriter& aWriter, int aLength, int aChunk,
                           TInt64 aLimit = kDefaultLimit);
};
