// Base classes of host objects that bytecode reaches through heap blocks.
//
// A heap block never holds a host pointer. A block whose payload stands for a
// host object (a string, a stream, a font ...) holds in its first word a handle
// into the heap's object table; the table entry records the payload address
// that owns it, so a handle copied or forged into another block is refused.
#pragma once

#include "../Containers/Vec.h"

namespace vm {

class HostObject {
public:
    virtual ~HostObject() = default;
};

// A native object that lives in a heap block; destroyed only by the heap.
class GCObject : public HostObject {
public:
    // Appends the references (payload addresses) this object holds, for marking.
    virtual void pushReferences(Vec<int>& markStack) { (void)markStack; }
    // Bytes the object holds outside the heap, for the memory report.
    virtual int outsideHeapSize() const { return 0; }
};

}  // namespace vm
