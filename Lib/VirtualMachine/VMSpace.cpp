#include "VMSpace.h"

#include <sys/mman.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace vm {

namespace {
thread_local VMSpace* tCurrentSpace = nullptr;
// Slack after the 4 GiB so that base + any 32-bit address + a small access
// stays inside the reservation even if a check were ever missed.
constexpr uint64_t kGuard = 1ull << 16;

int sizeClass(uint64_t bytes)
{
    int k = 0;
    uint64_t s = 16;
    while (s < bytes) {
        s <<= 1;
        ++k;
    }
    return k;
}

// Buffers above the size classes take whole pages.
uint64_t regionSize(uint64_t bytes)
{
    return (bytes + 4095) & ~uint64_t(4095);
}
}  // namespace

VMSpace::VMSpace()
{
    reserved_ = kSize + kGuard;
    void* p = mmap(nullptr, reserved_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p == MAP_FAILED) {
        std::fprintf(stderr, "FATAL: cannot reserve the VM address space\n");
        std::abort();
    }
    base_ = static_cast<uint8_t*>(p);
    if (const char* limit = std::getenv("MCB_MEMORY_LIMIT")) {
        if (!parseMemorySize(limit, memoryLimit_)) {
            std::fprintf(stderr, "Ignoring MCB_MEMORY_LIMIT=%s: not a size\n", limit);
            memoryLimit_ = kDefaultMemoryLimit;
        }
    }
    previousCurrent_ = tCurrentSpace;
    tCurrentSpace = this;
}

VMSpace::~VMSpace()
{
    munmap(base_, reserved_);
    if (tCurrentSpace == this)
        tCurrentSpace = previousCurrent_;
}

VMSpace* VMSpace::current()
{
    return tCurrentSpace;
}

bool VMSpace::parseMemorySize(std::string_view text, uint64_t& bytes)
{
    size_t i = 0;
    uint64_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + uint64_t(text[i] - '0');
        if (value > (1ull << 40))
            return false;
        ++i;
    }
    if (i == 0)
        return false;
    std::string_view unit = text.substr(i);
    int shift = 0;
    if (!unit.empty()) {
        switch (unit[0]) {
        case 'k': case 'K': shift = 10; break;
        case 'm': case 'M': shift = 20; break;
        case 'g': case 'G': shift = 30; break;
        default: return false;
        }
        unit.remove_prefix(1);
        if (unit != "" && unit != "B" && unit != "iB")
            return false;
    }
    if (value == 0 || value > ((1ull << 40) >> shift))
        return false;
    bytes = value << shift;
    return true;
}

void VMSpace::badAccess(Addr a)
{
    if (a == 0)
        raiseVmError(KErrNull, "NULL pointer");
    raiseVmError(KErrVm, "Invalid address " + std::to_string(a));
}

void VMSpace::commitTo(uint64_t newEnd)
{
    if (newEnd <= committedEnd_)
        return;
    uint64_t target = (newEnd + kCommitGranule - 1) & ~uint64_t(kCommitGranule - 1);
    if (target > kSize)
        target = kSize;
    if (mprotect(base_ + committedEnd_, target - committedEnd_, PROT_READ | PROT_WRITE) != 0)
        raiseVmError(KErrVm, "Out of memory");
    if (target - committedEnd_ >= (2u << 20))
        madvise(base_ + committedEnd_, target - committedEnd_, MADV_HUGEPAGE);
    committedEnd_ = target;
}

Addr VMSpace::allocRegion(uint64_t bytes, uint32_t align)
{
    uint64_t start = (uint64_t(end_) + align - 1) & ~uint64_t(align - 1);
    uint64_t newEnd = start + bytes;
    if (bytes >= kSize || newEnd > kSize - kCommitGranule || newEnd - kFirst > memoryLimit_)
        raiseVmError(KErrVm, "Out of memory");
    commitTo(newEnd);
    end_ = Addr(newEnd);
    limit_ = end_ - kFirst;
    return Addr(start);
}

Addr VMSpace::allocBuffer(uint64_t bytes)
{
    if (bytes == 0)
        bytes = 1;
    int k = sizeClass(bytes);
    if (k < kClasses) {
        auto& list = freeByClass_[k];
        if (!list.empty()) {
            Addr a = list.back();
            list.pop_back();
            return a;
        }
        uint32_t size = 16u << k;
        if (chunkEnd_ - chunkNext_ < size) {
            // The tail of the old chunk goes to the smaller classes.
            while (chunkEnd_ - chunkNext_ >= 16) {
                int c = 0;
                while (c + 1 < kClasses && (16u << (c + 1)) <= chunkEnd_ - chunkNext_)
                    ++c;
                freeByClass_[c].push_back(chunkNext_);
                chunkNext_ += 16u << c;
            }
            chunkNext_ = allocRegion(1u << 18);
            chunkEnd_ = chunkNext_ + (1u << 18);
        }
        Addr a = chunkNext_;
        chunkNext_ += size;
        return a;
    }
    uint64_t size = regionSize(bytes);
    auto it = freeLarge_.find(size);
    if (it != freeLarge_.end()) {
        Addr a = it->second;
        freeLarge_.erase(it);
        return a;
    }
    return allocRegion(size);
}

void VMSpace::freeBuffer(Addr address, uint64_t bytes)
{
    if (address == 0)
        return;
    if (bytes == 0)
        bytes = 1;
    int k = sizeClass(bytes);
    if (k < kClasses)
        freeByClass_[k].push_back(address);
    else
        freeLarge_.emplace(regionSize(bytes), address);
}

bool VMSpace::growBuffer(Addr address, uint64_t bytes, uint64_t newBytes)
{
    if (sizeClass(bytes) < kClasses || newBytes <= bytes)
        return false;
    const uint64_t size = regionSize(bytes);
    if (uint64_t(address) + size != end_)
        return false;
    if (regionSize(newBytes) > size)
        allocRegion(regionSize(newBytes) - size, 1);
    return true;
}

}  // namespace vm
