// VMHeap: the garbage-collected heap of everything bytecode can reach.
//
// Blocks are carved from pools in the VM address space. Each block is a
// 24-byte header, the payload and a 4-byte trailer holding the block length
// (boundary tags); the payload address is the reference bytecode holds.
// Free blocks sit in 32 FIFO lists bucketed by log2Ceil(size).
//
// Bytecode can write anywhere in the address space, headers included, so the
// heap keeps the truth about its structure on the host side and treats the
// in-space headers as mirrors it writes and reads only through validation:
//  - a bitmap per pool marks the word where each block header starts;
//    block extents always come from it;
//  - free-list nodes live in a host array, and a per-pool index names the
//    node of every free block (the header's link word stays 0);
//  - mark bits are a second host bitmap (the header's `marked` stays 0);
//  - host objects are reached through the object table (see GCObject.h).
// Every walk is bounded by the pool and every address is checked, so a
// corrupted header yields wrong values or a VM error, never a host fault,
// and marking ignores what it cannot validate: a collection always completes.
#pragma once

#define MCB_HOT_INLINE inline __attribute__((always_inline))

#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "../Containers/Vec.h"
#include "GCObject.h"
#include "Types.h"
#include "VMSpace.h"

class CAppsString;

namespace vm {

class InterfaceForCallingGc {
public:
    virtual ~InterfaceForCallingGc() = default;
    virtual void collectWithStack() = 0;
};

// The block header as it lies in the address space.
struct HeapHeader {
    uint32_t usedSize;
    int32_t size;
    int32_t isGcObject;
    int32_t marked;
    int32_t gcCode;
    uint32_t freeLink;  // 0: the free state is kept on the host side
};
static_assert(sizeof(HeapHeader) == 24);

// Number of doublings from 1 that reach or pass s (0 for 0 and 1).
inline int log2Ceil(uint32_t s)
{
    return s <= 1 ? 0 : 32 - __builtin_clz(s - 1);
}

class VMHeap {
public:
    static constexpr uint32_t kHeaderSize = 24;
    static constexpr uint32_t kOverhead = 28;
    static constexpr int kFreeLists = 32;
    static constexpr uint32_t kMaxBlock = 0x7FF00000u;  // largest payload

    VMHeap(VMSpace& space, uint32_t minPoolSize, InterfaceForCallingGc* gcInterface,
           const Vec<Vec<int> >& classReferenceFields, const Vec<Vec<int> >& classArrayFields,
           const Vec<Vec<char> >& classArrayFieldFlags);
    ~VMHeap();
    VMHeap(const VMHeap&) = delete;
    VMHeap& operator=(const VMHeap&) = delete;

    // The heap of the calling thread's interpreter.
    static VMHeap* currentHeap();

    VMSpace& space() const { return space_; }

    // Allocation. Sizes are rounded up to 4; the payload is zero-filled.
    // Raises code 10 "Out of memory" for sizes the space cannot hold.
    Addr createHeapEntry(uint32_t size, int isGcObject, int gcCode);  // header address
    Addr alloc(uint32_t size, int isGcObject, int gcCode)
    {
        return createHeapEntry(size, isGcObject, gcCode) + kHeaderSize;
    }
    std::pair<Addr, Addr> allocPair(uint32_t sizeA, int isGcObjectA, int gcCodeA,
                                    uint32_t sizeB, int isGcObjectB, int gcCodeB);

    Addr freeEntry(Addr header);  // returns the merged free block's header
    void freeObject(Addr payload);

    // Host objects. `construct` allocates a block (isGcObject -1), builds the
    // object and stores its handle in the payload's first word.
    template <typename T, typename... Args>
    Addr construct(uint32_t size, int gcCode, Args&&... args)
    {
        Addr p = alloc(size < 4 ? 4 : size, -1, gcCode);
        T* object;
        try {
            object = new T(std::forward<Args>(args)...);
        } catch (...) {
            freeObject(p);
            throw;
        }
        attach(p, object);
        return p;
    }
    // Host objects are owned by a cell: one of the first two words of a block
    // (word 0 for native objects, word 1 for a stream holder's stream). The
    // handle in the cell is valid only while the table names that cell.
    // attach: `object` is owned from now on; its handle is written to cell.
    void attach(Addr cell, HostObject* object);
    // The host object whose handle the cell holds, or null (checked access).
    HostObject* objectAt(Addr cell) const;
    template <typename T>
    T* objectAs(Addr cell) const { return dynamic_cast<T*>(objectAt(cell)); }
    // Destroys the host object of the cell, if any (the block stays).
    void detach(Addr cell);
    int objectCount() const { return int(objects_.size() - freeObjects_.size()); }

    // Roots.
    void addRoot(Addr payload);
    void removeRoot(Addr payload);
    const std::vector<Addr>& roots() const { return roots_; }
    // Called at every collection after the roots are marked, to mark further
    // roots (the globals block, queued call arguments ...).
    void addRootScanner(std::function<void(VMHeap&)> scanner) { scanners_.push_back(std::move(scanner)); }

    // Marking. mark() takes a precise reference; null, words that name no
    // live block (free blocks and sentinels included) are ignored. Marking
    // never raises.
    void mark(Addr payload);
    // cell: address of a word that holds a vector's address.
    void markArrayField(Addr cell, bool holdsReferences);
    // Conservative: marks the block containing value - 24 if it is a live block.
    void markIfInHeap(uint32_t value);
    bool isMarked(Addr payload) const;

    void collect();
    void sweep();
    void clearMarks();
    // Called after every collection (the trace recorder); none by default.
    void setCollectionObserver(std::function<void()> observer) { collectionObserver_ = std::move(observer); }
    struct LiveStats {
        int blocks = 0;
        uint64_t bytes = 0;  // payload bytes
    };
    // Walks every pool.
    LiveStats liveStats() const;

    // The header of the block whose extent contains a, or 0.
    Addr belongsToPools(Addr a) const;
    // True when payload is the payload address of a live block.
    bool isLiveBlock(Addr payload) const;
    // Payload size of the live block at payload (from the host-side truth),
    // 0 when payload names no live block.
    uint32_t payloadSize(Addr payload) const;
    // Changes whenever a block starts or stops existing, and no two heaps
    // share a value: what was checked about block extents stays true while
    // it does not change.
    uint64_t layoutVersion() const { return layoutVersion_; }
    int gcCodeOf(Addr payload) const;

    // The report's total, saturated to int.
    int getMemUsage(CAppsString* out) const;

    void setStack(Addr start, int words)
    {
        stackStart_ = start;
        stackWords_ = words;
    }
    Addr stackStart() const { return stackStart_; }
    int stackWords() const { return stackWords_; }

    int nOfEntries() const { return nOfEntries_; }
    int64_t totalSizeOfPools() const { return totalSizeOfPools_; }
    int poolCount() const { return int(pools_.size()); }
    Vec<int>& markStack() { return markStack_; }
    InterfaceForCallingGc* gcInterface() const { return gcInterface_; }

    // Free-list introspection for tests: (header, payload size) in list order.
    std::vector<std::pair<Addr, uint32_t> > freeList(int k) const;
    // Headers of all blocks of pool i, sentinels included.
    std::vector<Addr> blocksOfPool(int i) const;

private:
    // Zero-filled host array from calloc: large ones are mapped lazily, so
    // the bookkeeping of a big pool costs memory only where it is used.
    template <typename T>
    struct ZeroArray {
        struct Free {
            void operator()(T* p) const { std::free(p); }
        };
        std::unique_ptr<T[], Free> data;
        void allocate(size_t n)
        {
            data.reset(static_cast<T*>(std::calloc(n, sizeof(T))));
            if (!data)
                throw std::bad_alloc();
        }
        T& operator[](size_t i) const { return data[i]; }
    };
    // Block starts are at least kOverhead bytes apart, so offset / kOverhead
    // gives every block of a pool its own slot in the free index.
    struct Pool {
        Addr start;
        uint32_t length;
        uint32_t words;                  // bits in each bitmap
        ZeroArray<uint64_t> starts;      // bit per word: a header starts here
        ZeroArray<uint64_t> marks;       // bit per word: the block there is marked
        ZeroArray<uint64_t> cells;       // bit per word: the word holds an object handle
        ZeroArray<int32_t> freeIndex;    // per slot: node + 1 of the free block there
        Addr trailing() const { return start + length - kHeaderSize; }
        int32_t& freeSlot(Addr h) const { return freeIndex[(h - start) / kOverhead]; }
    };
    // A free-list entry; block 0 when the node is not in use (no block
    // lives at address 0). Its list is log2Ceil(size).
    struct Node {
        Addr block;
        uint32_t size;
        int32_t prev, next;
    };
    struct ListHead {
        int32_t first = -1, last = -1;
        int32_t count = 0;
    };
    struct ObjectSlot {
        HostObject* object;
        GCObject* gcObject;  // object as a GCObject, or null: cast once at attach
        Addr owner;
    };

    // The space's base, kept here: the heap's hot paths touch it constantly.
    HeapHeader* header(Addr h) const { return reinterpret_cast<HeapHeader*>(base_ + h); }
    int32_t word(Addr a) const
    {
        int32_t v;
        std::memcpy(&v, base_ + a, 4);
        return v;
    }
    void setWord(Addr a, int32_t v) const { std::memcpy(base_ + a, &v, 4); }
    const Pool* poolOf(Addr a) const
    {
        int32_t owner = granuleOwner_[a >> 16];
        if (owner == 0)
            return nullptr;
        const Pool& pool = pools_[size_t(owner - 1)];
        if (a < pool.start || a - pool.start >= pool.length)
            return nullptr;
        return &pool;
    }
    Pool* poolOf(Addr a) { return const_cast<Pool*>(static_cast<const VMHeap*>(this)->poolOf(a)); }
    static bool bit(const ZeroArray<uint64_t>& bits, uint32_t index)
    {
        return (bits[index >> 6] >> (index & 63)) & 1;
    }
    static void setBit(const ZeroArray<uint64_t>& bits, uint32_t index) { bits[index >> 6] |= uint64_t(1) << (index & 63); }
    static void clearBit(const ZeroArray<uint64_t>& bits, uint32_t index)
    {
        bits[index >> 6] &= ~(uint64_t(1) << (index & 63));
    }
    MCB_HOT_INLINE bool isBlockStart(const Pool& pool, Addr h) const;
    MCB_HOT_INLINE Addr nextBlock(const Pool& pool, Addr h) const;
    Addr previousBlock(const Pool& pool, Addr h) const;
    MCB_HOT_INLINE uint32_t sizeOf(const Pool& pool, Addr h) const;
    MCB_HOT_INLINE void writeBlock(Addr h, uint32_t size);  // size field and trailer
    // h must be a block start of pool: the index names a node exactly for
    // the free blocks (no two block starts share a slot).
    MCB_HOT_INLINE bool isFree(const Pool& pool, Addr h) const { return pool.freeSlot(h) != 0; }
    // The node of the free block at h, -1 when h is no free block start
    // (h may be any address of pool).
    MCB_HOT_INLINE int32_t freeNodeAt(const Pool& pool, Addr h) const
    {
        int32_t node = pool.freeSlot(h) - 1;
        return node >= 0 && nodes_[size_t(node)].block == h ? node : -1;
    }
    // The header of the live block at payload, or null.
    const HeapHeader* liveHeader(Addr payload) const;
    // The pool of the live block whose header is at h, or null.
    MCB_HOT_INLINE const Pool* livePool(Addr h) const;
    // The GCObject whose handle the cell of a live block holds, or null.
    MCB_HOT_INLINE GCObject* gcObjectAt(Addr cell) const;
    bool isSentinel(const Pool& pool, Addr h) const { return h == pool.start || h == pool.trailing(); }
    Pool& addPool(uint32_t payload);
    // Free-list operations; every block named is in pool.
    MCB_HOT_INLINE void addEntryToFreeEntries(const Pool& pool, Addr h, uint32_t size);
    MCB_HOT_INLINE void eraseNode(const Pool& pool, int32_t node);
    MCB_HOT_INLINE void unlinkNode(int32_t node);
    MCB_HOT_INLINE void appendNode(const Pool& pool, int32_t node, Addr h, uint32_t size);
    MCB_HOT_INLINE void replaceNode(const Pool& pool, int32_t node, Addr h, uint32_t size);
    MCB_HOT_INLINE void nameNode(const Pool& pool, int32_t node, Addr h);
    MCB_HOT_INLINE int32_t takeNode();
    void releaseObjectOf(Pool& pool, Addr cell);
    void markBlock(Addr payload);
    void drainMarking();
    void traverse(Addr payload);

    VMSpace& space_;
    uint8_t* const base_;
    uint32_t minPoolSize_;
    InterfaceForCallingGc* gcInterface_;
    const Vec<Vec<int> >& classReferenceFields_;
    const Vec<Vec<int> >& classArrayFields_;
    const Vec<Vec<char> >& classArrayFieldFlags_;

    std::vector<Pool> pools_;
    std::vector<int32_t> granuleOwner_;  // 64 KiB granule -> pool index + 1
    std::vector<Node> nodes_;
    std::vector<int32_t> freeNodes_;
    ListHead lists_[kFreeLists];
    uint32_t nonEmptyLists_ = 0;
    std::vector<ObjectSlot> objects_;
    std::vector<uint32_t> freeObjects_;
    // payloadSize's memory of large blocks. layoutVersion_ changes whenever a
    // block start is set or cleared, which is the only way an extent changes.
    struct SizeCacheEntry {
        Addr payload;
        uint32_t size;
        uint64_t version;
    };
    static constexpr uint32_t kSizeCacheEntries = 64;
    static constexpr uint32_t kSizeCacheMinimum = 1024;
    mutable SizeCacheEntry sizeCache_[kSizeCacheEntries] = {};
    uint64_t layoutVersion_;
    std::vector<Addr> roots_;
    std::vector<std::function<void(VMHeap&)> > scanners_;
    std::function<void()> collectionObserver_;
    std::vector<Addr> work_;
    Vec<int> markStack_;
    int nOfEntries_ = 0;
    int64_t totalSizeOfPools_ = 0;
    Addr stackStart_ = 0;
    int stackWords_ = 0;
    VMHeap* previousCurrent_ = nullptr;
};

}  // namespace vm
