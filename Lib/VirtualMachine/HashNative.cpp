// Hash group 34. Bv is a byte-vector reference, H the address of the cell
// that holds a Hash (the cell code 1 fills); both are null-checked.
#include "Containers/OVector.h"
#include "Hash.h"
#include "ObjectModel.h"
#include "VirtualMachine.h"

namespace vm {

void VirtualMachine::hashNative(int function)
{
    VMHeap& heap = *heap_;
    auto hashAt = [&](Word cell) -> Hash& { return objectOf<Hash>(heap, unbox(heap, Addr(cell))); };
    switch (function) {
    case 1: {  // out-slot, kind: a new Hash stored in the slot
        Addr slot = nullCheck(Addr(arg(1)));
        space_.check(slot, 4);
        Addr hash = heap.construct<Hash>(Hash::kBlockSize, GC_CODE_HASH, arg(0));
        space_.setRawWord(slot, Word(hash));
        pop(2);
        return;
    }
    case 2: {  // Bv, kind: the one-shot digest of Bv replaces Bv
        std::span<uint8_t> bytes = OVector::ofHolder(heap, Addr(arg(1)), 1).bytes();
        Addr digest = newByteVector(heap, Hash::digestOf(arg(0), bytes));
        pop(2);
        push(Word(digest));
        return;
    }
    case 3: {  // H, Bv: the bytes of Bv fed to the Hash
        std::span<uint8_t> bytes = OVector::ofHolder(heap, Addr(arg(0)), 1).bytes();
        hashAt(arg(1)).feed(bytes);
        pop(2);
        return;
    }
    case 4: {  // H: the digest so far replaces H
        Addr digest = newByteVector(heap, hashAt(arg(0)).digest());
        pop(1);
        push(Word(digest));
        return;
    }
    default:
        unknownNativeFunction("Hash:");
    }
}

}  // namespace vm
