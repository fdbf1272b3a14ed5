// The Hash object of native group 34: an incremental message digest that
// bytecode creates for a digest kind, feeds byte vectors and reads as a byte
// vector. No digest algorithm is defined for any kind: every digest is
// empty.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "GCObject.h"

namespace vm {

// Everything a Hash has been fed. Host-side, so collections never touch it.
struct HashState {
    int32_t kind;                 // as given at creation, not interpreted
    std::vector<uint8_t> buffer;  // every byte fed so far, in order
};

// Lives in an 8-byte GC_CODE_HASH block (handle word, unused word); owns its
// state from creation until the heap frees the block.
class Hash : public GCObject {
public:
    static constexpr uint32_t kBlockSize = 8;

    explicit Hash(int32_t kind) : state_(std::make_unique<HashState>(HashState{kind, {}})) {}

    const HashState& state() const { return *state_; }
    void feed(std::span<const uint8_t> bytes) { state_->buffer.insert(state_->buffer.end(), bytes.begin(), bytes.end()); }
    // The digest of everything fed so far; feeding may go on afterwards.
    std::vector<uint8_t> digest() const { return digestOf(state_->kind, state_->buffer); }
    // The one-shot digest of bytes.
    static std::vector<uint8_t> digestOf(int32_t kind, std::span<const uint8_t> bytes)
    {
        (void)kind;
        (void)bytes;
        return {};
    }

private:
    std::unique_ptr<HashState> state_;
};

}  // namespace vm
