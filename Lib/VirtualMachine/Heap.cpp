#include "Heap.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "../Containers/CAppsString.h"

namespace vm {

namespace {
thread_local VMHeap* tCurrentHeap = nullptr;

[[noreturn, gnu::cold, gnu::noinline]] void outOfMemory()
{
    raiseVmError(KErrVm, "Out of memory");
}

[[noreturn, gnu::cold, gnu::noinline]] void invalidFree(Addr payload)
{
    raiseVmError(KErrVm, "Invalid free of " + std::to_string(payload));
}
constexpr uint32_t kGranuleShift = 16;
constexpr uint32_t kGranule = 1u << kGranuleShift;
}  // namespace

namespace {

// Each heap counts its layout versions in a range of its own.
uint64_t firstLayoutVersion()
{
    static std::atomic<uint64_t> heaps{0};
    return (heaps.fetch_add(1) + 1) << 40;
}

}  // namespace

VMHeap::VMHeap(VMSpace& space, uint32_t minPoolSize, InterfaceForCallingGc* gcInterface,
               const Vec<Vec<int> >& classReferenceFields, const Vec<Vec<int> >& classArrayFields,
               const Vec<Vec<char> >& classArrayFieldFlags)
    : space_(space),
      base_(space.base()),
      minPoolSize_(minPoolSize),
      gcInterface_(gcInterface),
      classReferenceFields_(classReferenceFields),
      classArrayFields_(classArrayFields),
      classArrayFieldFlags_(classArrayFieldFlags),
      granuleOwner_(size_t(VMSpace::kSize >> kGranuleShift), 0),
      layoutVersion_(firstLayoutVersion())
{
    previousCurrent_ = tCurrentHeap;
    tCurrentHeap = this;
    Pool& pool = addPool(minPoolSize_);
    addEntryToFreeEntries(pool, pool.start + kOverhead, minPoolSize_);
}

VMHeap::~VMHeap()
{
    // Pools go with the address space; host objects still alive die here.
    for (ObjectSlot& slot : objects_) {
        delete slot.object;
        slot.object = nullptr;
    }
    if (tCurrentHeap == this)
        tCurrentHeap = previousCurrent_;
}

VMHeap* VMHeap::currentHeap()
{
    return tCurrentHeap;
}

// ---------------------------------------------------------------------------
// Pools and block structure

VMHeap::Pool& VMHeap::addPool(uint32_t payload)
{
    uint64_t length = uint64_t(payload) + 80;
    uint64_t rounded = (length + kGranule - 1) & ~uint64_t(kGranule - 1);
    Addr start = space_.allocRegion(rounded, kGranule);

    Pool pool;
    pool.start = start;
    pool.length = uint32_t(length);
    pool.words = uint32_t(length / 4);
    size_t bitWords = pool.words / 64 + 1;
    pool.starts.allocate(bitWords);
    pool.marks.allocate(bitWords);
    pool.cells.allocate(bitWords);
    pool.freeIndex.allocate(size_t(length / kOverhead + 1));

    // Leading sentinel: header and trailer, payload 0.
    HeapHeader* lead = header(start);
    *lead = HeapHeader{0, 0, 0, 0, GC_CODE_TERMINATOR, 0};
    setWord(start + kHeaderSize, int32_t(kOverhead));
    // The free entry.
    Addr free = start + kOverhead;
    *header(free) = HeapHeader{0, 0, 0, 0, GC_CODE_FREE, 0};
    writeBlock(free, payload);
    // Trailing sentinel: header only.
    Addr trail = Addr(start + length - kHeaderSize);
    *header(trail) = HeapHeader{0, 0, 0, 0, GC_CODE_TERMINATOR, 0};

    setBit(pool.starts, 0);
    setBit(pool.starts, kOverhead / 4);
    setBit(pool.starts, (trail - start) / 4);

    pools_.push_back(std::move(pool));
    int32_t index = int32_t(pools_.size());
    for (uint64_t g = start >> kGranuleShift; g < (uint64_t(start) + rounded) >> kGranuleShift; ++g)
        granuleOwner_[g] = index;
    totalSizeOfPools_ += int64_t(length);
    return pools_.back();
}

MCB_HOT_INLINE bool VMHeap::isBlockStart(const Pool& pool, Addr h) const
{
    uint32_t off = h - pool.start;
    return (off & 3) == 0 && off < pool.length && bit(pool.starts, off >> 2);
}

MCB_HOT_INLINE const VMHeap::Pool* VMHeap::livePool(Addr h) const
{
    const Pool* pool = poolOf(h);
    return pool && isBlockStart(*pool, h) && !isSentinel(*pool, h) && !isFree(*pool, h) ? pool : nullptr;
}

MCB_HOT_INLINE GCObject* VMHeap::gcObjectAt(Addr cell) const
{
    uint32_t handle = uint32_t(word(cell)) - 1;
    return handle < objects_.size() && objects_[handle].owner == cell ? objects_[handle].gcObject : nullptr;
}

MCB_HOT_INLINE Addr VMHeap::nextBlock(const Pool& pool, Addr h) const
{
    // The trailing sentinel's bit is always set, so the scan ends inside the pool.
    uint32_t index = ((h - pool.start) >> 2) + 1;
    size_t w = index >> 6;
    uint64_t bits = pool.starts[w] & (~uint64_t(0) << (index & 63));
    while (bits == 0)
        bits = pool.starts[++w];
    return pool.start + Addr((w * 64 + size_t(__builtin_ctzll(bits))) * 4);
}

Addr VMHeap::previousBlock(const Pool& pool, Addr h) const
{
    // The leading sentinel's bit is always set; h is never the leading sentinel.
    uint32_t index = ((h - pool.start) >> 2) - 1;
    size_t w = index >> 6;
    uint64_t mask = (index & 63) == 63 ? ~uint64_t(0) : ((uint64_t(1) << ((index & 63) + 1)) - 1);
    uint64_t bits = pool.starts[w] & mask;
    while (bits == 0)
        bits = pool.starts[--w];
    return pool.start + Addr((w * 64 + size_t(63 - __builtin_clzll(bits))) * 4);
}

MCB_HOT_INLINE uint32_t VMHeap::sizeOf(const Pool& pool, Addr h) const
{
    return nextBlock(pool, h) - h - kOverhead;
}

MCB_HOT_INLINE void VMHeap::writeBlock(Addr h, uint32_t size)
{
    header(h)->size = int32_t(size);
    setWord(h + kHeaderSize + size, int32_t(size + kOverhead));
}

// ---------------------------------------------------------------------------
// Free lists

MCB_HOT_INLINE int32_t VMHeap::takeNode()
{
    if (!freeNodes_.empty()) {
        int32_t i = freeNodes_.back();
        freeNodes_.pop_back();
        return i;
    }
    nodes_.push_back(Node{0, 0, -1, -1});
    return int32_t(nodes_.size() - 1);
}

// Lists are first in, first out: entries join at the tail and allocation
// takes from the front. A node that leaves a list and an entry that joins
// one in the same step reuse the node (the order is the same as erasing and
// appending).
MCB_HOT_INLINE void VMHeap::unlinkNode(int32_t i)
{
    Node& node = nodes_[size_t(i)];
    int k = log2Ceil(node.size);
    ListHead& list = lists_[k];
    if (node.prev >= 0)
        nodes_[size_t(node.prev)].next = node.next;
    else
        list.first = node.next;
    if (node.next >= 0)
        nodes_[size_t(node.next)].prev = node.prev;
    else
        list.last = node.prev;
    if (--list.count == 0)
        nonEmptyLists_ &= ~(1u << k);
}

// Node i now stands for the free block h, and the pool's index says so.
MCB_HOT_INLINE void VMHeap::nameNode(const Pool& pool, int32_t i, Addr h)
{
    nodes_[size_t(i)].block = h;
    pool.freeSlot(h) = i + 1;
}

MCB_HOT_INLINE void VMHeap::appendNode(const Pool& pool, int32_t i, Addr h, uint32_t size)
{
    int k = log2Ceil(size);
    KELVAR_ASSERT(k < kFreeLists);
    ListHead& list = lists_[k];
    nodes_[size_t(i)] = Node{h, size, list.last, -1};
    if (list.last >= 0)
        nodes_[size_t(list.last)].next = i;
    else
        list.first = i;
    list.last = i;
    ++list.count;
    nonEmptyLists_ |= 1u << k;
    nameNode(pool, i, h);
}

MCB_HOT_INLINE void VMHeap::addEntryToFreeEntries(const Pool& pool, Addr h, uint32_t size)
{
    appendNode(pool, takeNode(), h, size);
}

// The block of node i is no longer free (taken, or merged into another).
MCB_HOT_INLINE void VMHeap::eraseNode(const Pool& pool, int32_t i)
{
    unlinkNode(i);
    Node& node = nodes_[size_t(i)];
    pool.freeSlot(node.block) = 0;
    node.block = 0;
    freeNodes_.push_back(i);
}

// Node i leaves its list; the free block h of size joins the tail of its own.
MCB_HOT_INLINE void VMHeap::replaceNode(const Pool& pool, int32_t i, Addr h, uint32_t size)
{
    Node& node = nodes_[size_t(i)];
    int k = log2Ceil(size);
    if (log2Ceil(node.size) == k && lists_[k].last == i) {
        node.size = size;
        if (node.block != h) {
            pool.freeSlot(node.block) = 0;
            nameNode(pool, i, h);
        }
        return;
    }
    pool.freeSlot(node.block) = 0;
    unlinkNode(i);
    appendNode(pool, i, h, size);
}

std::vector<std::pair<Addr, uint32_t> > VMHeap::freeList(int k) const
{
    std::vector<std::pair<Addr, uint32_t> > out;
    for (int32_t i = lists_[k].first; i >= 0; i = nodes_[size_t(i)].next)
        out.emplace_back(nodes_[size_t(i)].block, nodes_[size_t(i)].size);
    return out;
}

std::vector<Addr> VMHeap::blocksOfPool(int i) const
{
    std::vector<Addr> out;
    const Pool& pool = pools_[size_t(i)];
    for (Addr h = pool.start;; h = nextBlock(pool, h)) {
        out.push_back(h);
        if (h == pool.trailing())
            break;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Allocation and freeing

namespace {

// Fills n bytes (a multiple of 4) with zeros. From 16 to 64 bytes, the
// common sizes, four overlapping 16-byte stores cover the range without a
// branch on the size.
MCB_HOT_INLINE void zeroPayload(uint8_t* p, uint32_t n)
{
    static constexpr uint8_t kZeros[16] = {};
    if (n - 16 <= 48) {
        std::memcpy(p, kZeros, 16);
        std::memcpy(p + std::min(16u, n - 16), kZeros, 16);
        std::memcpy(p + (n > 32 ? n - 32 : 0), kZeros, 16);
        std::memcpy(p + n - 16, kZeros, 16);
    } else if (n >= 8 && n < 16) {
        std::memcpy(p, kZeros, 8);
        std::memcpy(p + n - 8, kZeros, 8);
    } else if (n == 4) {
        std::memcpy(p, kZeros, 4);
    } else if (n != 0) {
        std::memset(p, 0, n);
    }
}

}  // namespace

Addr VMHeap::createHeapEntry(uint32_t size, int isGcObject, int gcCode)
{
    if (size > kMaxBlock) [[unlikely]]
        outOfMemory();
    size = (size + 3) & ~3u;
    int j = log2Ceil(size);

    // Every block of a larger list fits: take the first of the first one.
    int k = j;
    int32_t found = -1;
    if (uint32_t larger = nonEmptyLists_ & (~1u << j)) [[likely]] {
        k = __builtin_ctz(larger);
        found = lists_[k].first;
    } else {
        for (int32_t i = lists_[j].first; i >= 0; i = nodes_[size_t(i)].next) {
            if (nodes_[size_t(i)].size >= size) {
                found = i;
                break;
            }
        }
        if (found < 0) [[unlikely]] {
            // No free block fits: a new pool, whose free entry is used at
            // once (it never enters a list). Its memory has never been
            // touched: it is zero already, and leaving it alone keeps it
            // uncommitted until the program writes it.
            Pool& pool = addPool(std::max(minPoolSize_, size));
            Addr h = pool.start + kOverhead;
            uint32_t available = sizeOf(pool, h);
            KELVAR_ASSERT(available >= size);
            if (available - size > kOverhead) {
                Addr rest = h + kOverhead + size;
                uint32_t restSize = available - size - kOverhead;
                setBit(pool.starts, (rest - pool.start) >> 2);
                ++layoutVersion_;
                *header(rest) = HeapHeader{0, 0, 0, 0, GC_CODE_FREE, 0};
                writeBlock(rest, restSize);
                addEntryToFreeEntries(pool, rest, restSize);
                available = size;
            }
            *header(h) = HeapHeader{size, int32_t(available), isGcObject, 0, gcCode, 0};
            setWord(h + kHeaderSize + available, int32_t(available + kOverhead));
            ++nOfEntries_;
            return h;
        }
    }
    const Addr h = nodes_[size_t(found)].block;
    const uint32_t available = nodes_[size_t(found)].size;
    Pool& pool = pools_[size_t(granuleOwner_[h >> kGranuleShift] - 1)];  // a free block's pool
    KELVAR_ASSERT(available >= size);

    uint32_t taken = available;
    if (available - size > kOverhead) {
        Addr rest = h + kOverhead + size;
        uint32_t restSize = available - size - kOverhead;
        setBit(pool.starts, (rest - pool.start) >> 2);
        ++layoutVersion_;
        *header(rest) = HeapHeader{0, int32_t(restSize), 0, 0, GC_CODE_FREE, 0};
        setWord(rest + kHeaderSize + restSize, int32_t(restSize + kOverhead));
        replaceNode(pool, found, rest, restSize);
        taken = size;
    } else {
        eraseNode(pool, found);
    }
    *header(h) = HeapHeader{size, int32_t(taken), isGcObject, 0, gcCode, 0};
    setWord(h + kHeaderSize + taken, int32_t(taken + kOverhead));
    zeroPayload(base_ + h + kHeaderSize, taken);
    ++nOfEntries_;
    return h;
}

std::pair<Addr, Addr> VMHeap::allocPair(uint32_t sizeA, int isGcObjectA, int gcCodeA,
                                        uint32_t sizeB, int isGcObjectB, int gcCodeB)
{
    if (uint64_t(sizeA) + sizeB + kOverhead + 8 > kMaxBlock)
        outOfMemory();
    uint32_t a = (sizeA + 3) & ~3u;
    uint32_t b = (sizeB + 3) & ~3u;
    Addr h = createHeapEntry(a + b + kOverhead, isGcObjectA, gcCodeA);
    Pool* pool = poolOf(h);
    uint32_t total = sizeOf(*pool, h);
    Addr second = h + kOverhead + a;
    setBit(pool->starts, (second - pool->start) >> 2);
    ++layoutVersion_;
    writeBlock(h, a);
    header(h)->usedSize = a;
    const uint32_t rest = total - a - kOverhead;
    *header(second) = HeapHeader{b, int32_t(rest), isGcObjectB, 0, gcCodeB, 0};
    setWord(second + kHeaderSize + rest, int32_t(rest + kOverhead));
    ++nOfEntries_;
    return {h + kHeaderSize, second + kHeaderSize};
}

void VMHeap::releaseObjectOf(Pool& pool, Addr cell)
{
    uint32_t index = (cell - pool.start) >> 2;
    if (!bit(pool.cells, index))
        return;
    clearBit(pool.cells, index);
    uint32_t handle = uint32_t(word(cell)) - 1;
    if (handle < objects_.size() && objects_[handle].owner == cell && objects_[handle].object) {
        HostObject* object = objects_[handle].object;
        objects_[handle] = ObjectSlot{nullptr, nullptr, 0};
        freeObjects_.push_back(handle);
        setWord(cell, 0);
        delete object;
    }
}

Addr VMHeap::freeEntry(Addr h)
{
    Pool* pool = poolOf(h);
    if (!pool || !isBlockStart(*pool, h) || isSentinel(*pool, h) || isFree(*pool, h))
        invalidFree(h + kHeaderSize);
    --nOfEntries_;
    Addr payload = h + kHeaderSize;
    uint32_t size = sizeOf(*pool, h);
    // A block owns host objects through handles in its first two words
    // (objects in word 0, a stream holder's stream in word 1).
    uint32_t cell = (payload - pool->start) >> 2;
    if (bit(pool->cells, cell) || (size >= 8 && bit(pool->cells, cell + 1))) [[unlikely]] {
        if (size >= 8)
            releaseObjectOf(*pool, payload + 4);
        releaseObjectOf(*pool, payload);
    }

    HeapHeader* he = header(h);
    he->gcCode = GC_CODE_FREE;
    he->marked = 0;
    he->isGcObject = 0;

    // Both neighbours leave their lists (following one first), then the
    // merged block joins the tail of its list; their nodes are reused.
    int32_t previousNode = -1;
    Addr next = h + kOverhead + size;
    int32_t nextNode = next != pool->trailing() ? freeNodeAt(*pool, next) : -1;
    if (nextNode >= 0) {
        size += nodes_[size_t(nextNode)].size + kOverhead;
        clearBit(pool->starts, (next - pool->start) >> 2);
        ++layoutVersion_;
    }

    // The trailer before h names the previous block; trust it only when it
    // leads to a free block (host truth) whose extent ends exactly at h.
    Addr previous = 0;
    uint32_t length = uint32_t(word(h - 4));
    if (length >= kOverhead && length <= h - pool->start - kOverhead && (length & 3) == 0) {
        previous = h - length;
        previousNode = freeNodeAt(*pool, previous);
        if (previousNode >= 0 && nodes_[size_t(previousNode)].size + kOverhead != length)
            previousNode = -1;
    } else {
        previous = previousBlock(*pool, h);
        previousNode = previous != pool->start ? freeNodeAt(*pool, previous) : -1;
    }
    if (previousNode >= 0) {
        size += nodes_[size_t(previousNode)].size + kOverhead;
        clearBit(pool->starts, (h - pool->start) >> 2);
        ++layoutVersion_;
        h = previous;
        he = header(h);
        he->gcCode = GC_CODE_FREE;
        he->isGcObject = 0;
        he->marked = 0;
    }
    writeBlock(h, size);
    if (previousNode >= 0) {
        if (nextNode >= 0)
            eraseNode(*pool, nextNode);
        replaceNode(*pool, previousNode, h, size);
    } else if (nextNode >= 0) {
        replaceNode(*pool, nextNode, h, size);
    } else {
        addEntryToFreeEntries(*pool, h, size);
    }
    return h;
}

void VMHeap::freeObject(Addr payload)
{
    if (payload == 0)
        return;
    freeEntry(payload - kHeaderSize);
}

const HeapHeader* VMHeap::liveHeader(Addr payload) const
{
    Addr h = payload - kHeaderSize;
    const Pool* pool = poolOf(h);
    if (!pool || !isBlockStart(*pool, h) || isSentinel(*pool, h) || isFree(*pool, h))
        return nullptr;
    return header(h);
}

bool VMHeap::isLiveBlock(Addr payload) const
{
    return liveHeader(payload) != nullptr;
}

uint32_t VMHeap::payloadSize(Addr payload) const
{
    Addr h = payload - kHeaderSize;
    const Pool* pool = poolOf(h);
    if (!pool || !isBlockStart(*pool, h) || isSentinel(*pool, h) || isFree(*pool, h))
        return 0;
    // The extent scan is linear in the size: large blocks (vector arrays,
    // checked at every vector native) are remembered until the layout changes.
    SizeCacheEntry& cached = sizeCache_[(payload >> 4) % kSizeCacheEntries];
    if (cached.payload == payload && cached.version == layoutVersion_)
        return cached.size;
    uint32_t size = sizeOf(*pool, h);
    if (size >= kSizeCacheMinimum)
        cached = SizeCacheEntry{payload, size, layoutVersion_};
    return size;
}

int VMHeap::gcCodeOf(Addr payload) const
{
    const HeapHeader* he = liveHeader(payload);
    return he ? he->gcCode : GC_CODE_FREE;
}

// ---------------------------------------------------------------------------
// Host objects

void VMHeap::attach(Addr cell, HostObject* object)
{
    Pool* pool = poolOf(cell);
    if (!pool)
        raiseVmError(KErrVm, "Invalid object cell " + std::to_string(cell));
    ObjectSlot slot{object, dynamic_cast<GCObject*>(object), cell};
    uint32_t handle;
    if (!freeObjects_.empty()) {
        handle = freeObjects_.back();
        freeObjects_.pop_back();
        objects_[handle] = slot;
    } else {
        handle = uint32_t(objects_.size());
        objects_.push_back(slot);
    }
    setWord(cell, int32_t(handle + 1));
    setBit(pool->cells, (cell - pool->start) >> 2);
}

HostObject* VMHeap::objectAt(Addr cell) const
{
    uint32_t handle = uint32_t(space_.loadWord(cell)) - 1;
    if (handle < objects_.size() && objects_[handle].owner == cell)
        return objects_[handle].object;
    return nullptr;
}

void VMHeap::detach(Addr cell)
{
    if (objectAt(cell))
        releaseObjectOf(*poolOf(cell), cell);
}

// ---------------------------------------------------------------------------
// Roots

void VMHeap::addRoot(Addr payload)
{
    roots_.push_back(payload);
}

void VMHeap::removeRoot(Addr payload)
{
    auto it = std::find(roots_.begin(), roots_.end(), payload);
    if (it == roots_.end()) {
        std::fprintf(stderr, "Error: Removing non-existing root: %d", int(payload));
        return;
    }
    roots_.erase(it);
}

// ---------------------------------------------------------------------------
// Marking

void VMHeap::markBlock(Addr payload)
{
    // Only live blocks are marked. A word that names no block is not a
    // reference (bytecode may box plain values); a reference to a free block
    // or a sentinel is one that bytecode left dangling or forged: ignored,
    // so that a collection always completes.
    Addr h = payload - kHeaderSize;
    const Pool* pool = poolOf(h);
    if (!pool)
        return;
    uint32_t off = h - pool->start;
    if (off & 3)
        return;
    uint32_t index = off >> 2;
    uint64_t bitMask = uint64_t(1) << (index & 63);
    uint64_t& marks = pool->marks[index >> 6];
    // Marks are set only on live blocks: a marked start needs no more checks.
    if ((pool->starts[index >> 6] & bitMask) == 0 || (marks & bitMask) != 0)
        return;
    if (isSentinel(*pool, h) || isFree(*pool, h))
        return;
    marks |= bitMask;
    work_.push_back(payload);
}

bool VMHeap::isMarked(Addr payload) const
{
    Addr h = payload - kHeaderSize;
    const Pool* pool = poolOf(h);
    return pool && isBlockStart(*pool, h) && bit(pool->marks, (h - pool->start) >> 2);
}

void VMHeap::mark(Addr payload)
{
    if (payload == 0)
        return;
    markBlock(payload);
    drainMarking();
}

void VMHeap::markIfInHeap(uint32_t value)
{
    Addr h = belongsToPools(value - kHeaderSize);
    if (!h)
        return;
    markBlock(h + kHeaderSize);
    drainMarking();
}

void VMHeap::markArrayField(Addr cell, bool holdsReferences)
{
    if (!space_.contains(cell, 4))
        return;
    Addr vector = Addr(word(cell));
    if (!livePool(vector - kHeaderSize))
        return;
    markBlock(vector);
    // Only a vector record says where its elements are. Many cells may name
    // one block: payloadSize remembers large extents.
    if (header(vector - kHeaderSize)->gcCode != GC_CODE_VECTOR || payloadSize(vector) < 16)
        return;
    Addr elements = Addr(word(vector + 4));
    int32_t count = word(vector + 12);
    if (count <= 0 || !livePool(elements - kHeaderSize))
        return;
    markBlock(elements);
    if (!holdsReferences)
        return;
    uint32_t n = std::min(uint32_t(count), payloadSize(elements) / 4);
    for (uint32_t i = 0; i < n; ++i) {
        Addr e = Addr(word(elements + 4 * i));
        if (e)
            markBlock(e);
    }
}

void VMHeap::drainMarking()
{
    while (!work_.empty()) {
        Addr p = work_.back();
        work_.pop_back();
        traverse(p);
    }
}

// p is a live block (markBlock checked it); what its payload says is
// bytecode's and is validated before it is followed. Leaves of plain data
// (the common element arrays and raw blocks) need not even their size.
void VMHeap::traverse(Addr p)
{
    const HeapHeader* he = header(p - kHeaderSize);
    int32_t gcCode = he->gcCode;
    bool hostObject = he->isGcObject == -1;
    switch (gcCode) {
    case GC_CODE_INSTANCE:
    case GC_CODE_ARRAY:
    case GC_CODE_OBJECT_ARRAY:
    case GC_CODE_REFERENCE:
    case GC_CODE_DRAWABLE:
        break;
    default:
        if (!hostObject)
            return;
    }
    uint32_t size = sizeOf(*poolOf(p - kHeaderSize), p - kHeaderSize);
    if (hostObject && size >= 4) {
        if (GCObject* object = gcObjectAt(p)) {
            markStack_.clear();
            object->pushReferences(markStack_);
            while (!markStack_.isEmpty()) {
                Addr r = Addr(markStack_.last());
                markStack_.removeLast();
                if (r)
                    markBlock(r);
            }
        }
    }
    auto markWord = [&](uint32_t offset) {
        if (offset + 4 <= size)
            if (Addr r = Addr(word(p + offset)))
                markBlock(r);
    };
    switch (gcCode) {
    case GC_CODE_INSTANCE: {
        if (size < 4)
            return;
        int32_t c = word(p);
        if (c < 0 || c >= classReferenceFields_.count())
            return;
        for (int o : classReferenceFields_[c])
            if (o >= 0 && uint32_t(o) < size / 4)
                markWord(4 * uint32_t(o));
        if (c >= classArrayFields_.count() || c >= classArrayFieldFlags_.count())
            return;
        const Vec<int>& arrays = classArrayFields_[c];
        const Vec<char>& flags = classArrayFieldFlags_[c];
        for (int i = 0; i < arrays.count() && i < flags.count(); ++i) {
            int o = arrays[i];
            if (o >= 0 && uint32_t(o) < size / 4)
                markArrayField(p + 4 * uint32_t(o), flags[i] != 0);
        }
        return;
    }
    case GC_CODE_ARRAY:
    case GC_CODE_OBJECT_ARRAY:
        if (size >= 4)
            markArrayField(p, gcCode == GC_CODE_OBJECT_ARRAY);
        return;
    case GC_CODE_REFERENCE:
        markWord(0);
        return;
    case GC_CODE_DRAWABLE: {
        // A record of another kind is not a drawable: its words are not
        // followed (the natives refuse it when it is used).
        int32_t kind = size >= 12 ? word(p) : 0;
        if (kind == 1 || kind == 2)
            markWord(4);
        if (kind == 2)
            markWord(8);
        return;
    }
    default:
        return;
    }
}

void VMHeap::clearMarks()
{
    for (Pool& pool : pools_)
        std::memset(&pool.marks[0], 0, (pool.words / 64 + 1) * sizeof(uint64_t));
    work_.clear();
}

void VMHeap::collect()
{
    try {
        markStack_.clear();
        for (size_t i = 0; i < roots_.size(); ++i)
            markBlock(roots_[i]);
        drainMarking();
        for (auto& scanner : scanners_)
            scanner(*this);
        drainMarking();
        sweep();
    } catch (...) {
        clearMarks();
        throw;
    }
    if (collectionObserver_)
        collectionObserver_();
}

// Blocks are freed in address order, exactly as a walk over every block
// would, but the walk reads the bitmaps a word at a time: a marked block is
// live and needs no visit, so only unmarked starts (free blocks, dead blocks
// and the trailing sentinel) are looked at.
void VMHeap::sweep()
{
    for (size_t i = 0; i < pools_.size(); ++i) {
        Pool& pool = pools_[i];
        const Addr trailing = pool.trailing();
        const size_t lastWord = pool.words / 64;
        uint32_t index = kOverhead / 4;  // the first block after the leading sentinel
        for (size_t w = index >> 6; w <= lastWord;) {
            uint64_t candidates = pool.starts[w] & ~pool.marks[w] & (~uint64_t(0) << (index & 63));
            if (candidates == 0) {
                index = uint32_t(++w * 64);
                continue;
            }
            Addr h = pool.start + Addr((w * 64 + size_t(__builtin_ctzll(candidates))) * 4);
            if (h == trailing)
                break;
            // Freeing h merges it with free neighbours only, clearing their
            // start bits: the walk goes on right after h.
            if (!isFree(pool, h))
                freeEntry(h);
            index = ((h - pool.start) >> 2) + 1;
            w = index >> 6;
        }
        // Marks are set only on live blocks: none survives the sweep.
        std::memset(&pool.marks[0], 0, (lastWord + 1) * sizeof(uint64_t));
    }
}

VMHeap::LiveStats VMHeap::liveStats() const
{
    LiveStats live;
    for (const Pool& pool : pools_) {
        for (Addr h = nextBlock(pool, pool.start); h != pool.trailing(); h = nextBlock(pool, h)) {
            if (!isFree(pool, h)) {
                ++live.blocks;
                live.bytes += sizeOf(pool, h);
            }
        }
    }
    return live;
}

Addr VMHeap::belongsToPools(Addr a) const
{
    const Pool* pool = poolOf(a);
    if (!pool)
        return 0;
    if (a >= pool->trailing())
        return pool->trailing();
    uint32_t index = (a - pool->start) >> 2;
    if (bit(pool->starts, index))
        return pool->start + index * 4;
    return previousBlock(*pool, pool->start + index * 4);
}

// ---------------------------------------------------------------------------
// Memory report

int VMHeap::getMemUsage(CAppsString* out) const
{
    long long headers = 0, actual = 0, wasted = 0, outsideHeap = 0;
    long long stringContents = 0, fontContents = 0, sizeOfPools = 0, allContents = 0, freeSpace = 0;
    for (const Pool& pool : pools_) {
        sizeOfPools += pool.length;
        long long payloadSum = 0;
        for (Addr h = pool.start;; h = nextBlock(pool, h)) {
            bool last = h == pool.trailing();
            uint32_t size = last ? 0 : sizeOf(pool, h);
            payloadSum += size;
            if (isFree(pool, h)) {
                freeSpace += size;
            } else if (!isSentinel(pool, h)) {
                const HeapHeader* he = header(h);
                uint32_t used = std::min(he->usedSize, size);
                actual += used;
                wasted += size - used;
                if (size >= 4) {
                    if (const GCObject* object = gcObjectAt(h + kHeaderSize)) {
                        int extra = object->outsideHeapSize();
                        outsideHeap += extra;
                        if (he->gcCode == GC_CODE_STRING)
                            stringContents += extra;
                        if (he->gcCode == GC_CODE_FONT)
                            fontContents += extra;
                    }
                }
            }
            if (last)
                break;
        }
        headers += pool.length - payloadSum;
        allContents += payloadSum;
    }
    KELVAR_ASSERT(totalSizeOfPools_ == freeSpace + actual + wasted + headers);
    long long total = headers + actual + wasted + outsideHeap;
    if (out) {
        auto n = [](long long v) { return std::to_string(v); };
        std::string s = "\nheaders " + n(headers) + " + actual " + n(actual) + " + wasted " + n(wasted) +
                        " + outsideHeap " + n(outsideHeap) + " = total " + n(total) + "\n" +
                        "stringContents=" + n(stringContents) + " bitmapContents=0 fontContents=" +
                        n(fontContents) + "\n" + "nOfEntries=" + n(nOfEntries_) + " nOfPools=" +
                        n((long long)pools_.size()) + " SzOfPools=" + n(sizeOfPools) +
                        " AllContents=" + n(allContents) + " freeSpace=" + n(freeSpace) + "\n";
        *out += CAppsString(std::string_view(s));
    }
    return int(std::min<long long>(total, INT32_MAX));
}

}  // namespace vm
