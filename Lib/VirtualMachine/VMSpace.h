// The VM address space: one reserved region of 4 GiB that holds everything
// bytecode can address (operand stack, heap pools, string buffers). A word
// address is an offset into it; 0 is null and nothing lives below kFirst.
// Regions are committed upward from kFirst and never given back before the
// space is destroyed, so host pointers into committed memory stay valid.
//
// The memory limit bounds the bytes handed out (stack, pools, buffers):
// a request beyond it raises code 10 "Out of memory". It is 1 GiB unless the
// environment variable MCB_MEMORY_LIMIT gives a size (parseMemorySize) or the
// host sets one with setMemoryLimit.
#pragma once

#include <cstring>
#include <map>
#include <string_view>
#include <vector>

#include "Types.h"
#include "VMError.h"

namespace vm {

class VMSpace {
public:
    static constexpr Addr kFirst = 0x10000;            // lowest valid address
    static constexpr uint64_t kSize = 1ull << 32;      // addressable bytes
    static constexpr uint32_t kCommitGranule = 0x10000;
    static constexpr uint64_t kDefaultMemoryLimit = 1ull << 30;

    VMSpace();
    ~VMSpace();
    VMSpace(const VMSpace&) = delete;
    VMSpace& operator=(const VMSpace&) = delete;

    // The space of the calling thread (the one most recently created there).
    static VMSpace* current();

    // Reserves and commits `bytes` starting at a multiple of `align` (a power
    // of two); the memory is zero. Raises code 10 "Out of memory" when the
    // space is exhausted.
    Addr allocRegion(uint64_t bytes, uint32_t align = 8);

    // Buffers for data that bytecode may address but the heap does not own
    // (string units). Bookkeeping is host-side; contents are not cleared.
    Addr allocBuffer(uint64_t bytes);
    void freeBuffer(Addr address, uint64_t bytes);
    // Grows the buffer at address from bytes to newBytes where it lies, which
    // a buffer of its own region can do while no region follows it; false
    // (nothing changed) otherwise. Raises code 10 "Out of memory" as
    // allocRegion does.
    bool growBuffer(Addr address, uint64_t bytes, uint64_t newBytes);

    // Limit of committedBytes(). A limit below what is committed already
    // refuses every further request.
    void setMemoryLimit(uint64_t bytes) { memoryLimit_ = bytes; }
    uint64_t memoryLimit() const { return memoryLimit_; }
    // Bytes that may still be handed out.
    uint64_t available() const
    {
        uint64_t used = committedBytes();
        return used < memoryLimit_ ? memoryLimit_ - used : 0;
    }
    // Reads a size: decimal digits, optionally followed by K, M or G (powers
    // of 1024, either case, "iB" or "B" may follow). False for anything else,
    // for 0 and for sizes above 2^40.
    static bool parseMemorySize(std::string_view text, uint64_t& bytes);

    Addr end() const { return end_; }
    uint8_t* base() const { return base_; }

    // True when [a, a + n) lies in committed memory.
    bool contains(Addr a, uint32_t n) const
    {
        // Addresses below kFirst wrap to above the limit.
        return uint64_t(uint32_t(a - kFirst)) + n <= limit_;
    }

    // Raises code 1 "NULL pointer" for 0 and code 10 "Invalid address <a>"
    // for any other address outside committed memory.
    void check(Addr a, uint32_t n) const
    {
        if (!contains(a, n)) [[unlikely]]
            badAccess(a);
    }
    [[noreturn]] static void badAccess(Addr a);

    // Unchecked host pointer: only for addresses the runtime itself made.
    template <typename T = uint8_t>
    T* raw(Addr a) const { return reinterpret_cast<T*>(base_ + a); }

    // Checked pointer to n bytes at a.
    uint8_t* ptr(Addr a, uint32_t n) const
    {
        check(a, n);
        return base_ + a;
    }

    int32_t loadWord(Addr a) const
    {
        check(a, 4);
        int32_t v;
        std::memcpy(&v, base_ + a, 4);
        return v;
    }
    void storeWord(Addr a, int32_t v) const
    {
        check(a, 4);
        std::memcpy(base_ + a, &v, 4);
    }
    int8_t loadByte(Addr a) const
    {
        check(a, 1);
        return int8_t(base_[a]);
    }
    void storeByte(Addr a, int32_t v) const
    {
        check(a, 1);
        base_[a] = uint8_t(v);
    }
    uint16_t loadHalf(Addr a) const
    {
        check(a, 2);
        uint16_t v;
        std::memcpy(&v, base_ + a, 2);
        return v;
    }
    void storeHalf(Addr a, int32_t v) const
    {
        check(a, 2);
        uint16_t h = uint16_t(v);
        std::memcpy(base_ + a, &h, 2);
    }

    // Unchecked word access for runtime-made addresses.
    int32_t rawWord(Addr a) const
    {
        int32_t v;
        std::memcpy(&v, base_ + a, 4);
        return v;
    }
    void setRawWord(Addr a, int32_t v) const { std::memcpy(base_ + a, &v, 4); }

    // Bytes of committed memory handed out as regions and buffers.
    uint64_t committedBytes() const { return end_ - kFirst; }

private:
    void commitTo(uint64_t newEnd);

    uint8_t* base_ = nullptr;
    uint64_t reserved_ = 0;
    Addr end_ = kFirst;          // end of committed, handed-out memory
    uint64_t limit_ = 0;         // end_ - kFirst
    uint64_t committedEnd_ = kFirst;  // end of pages made accessible
    uint64_t memoryLimit_ = kDefaultMemoryLimit;

    // Buffer arena: size classes of 16 << k bytes carved from chunks, larger
    // buffers in regions of their own, reused by exact size.
    static constexpr int kClasses = 13;  // 16 B .. 64 KiB
    std::vector<Addr> freeByClass_[kClasses];
    Addr chunkNext_ = 0, chunkEnd_ = 0;
    std::multimap<uint64_t, Addr> freeLarge_;

    VMSpace* previousCurrent_ = nullptr;
};

}  // namespace vm
