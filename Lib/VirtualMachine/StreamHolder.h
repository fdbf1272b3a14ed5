// StreamHolder: the heap record through which bytecode holds an open stream.
//
// An 8-byte plain-data block (GC_CODE_STREAM, isGcObject 0): word 0 the
// TYPEID, word 1 the handle of a StreamObject owned through the heap's object
// table with cell holder + 4. The heap destroys that object when it frees the
// block, which closes the stream's file.
//
// Bytecode can rewrite both words. A TYPEID that does not match the access (or
// a block that is no stream holder) raises code 10 "Invalid TYPEID"; a handle
// that no longer names this holder's stream reads as "no stream" (null).
#pragma once

#include <memory>

#include "GCObject.h"
#include "Types.h"

namespace KELVAR {
class Stream;
class InputStream;
class OutputStream;
}  // namespace KELVAR

namespace vm {

class VMHeap;

// Owns the stream of a holder.
class StreamObject : public HostObject {
public:
    explicit StreamObject(std::unique_ptr<KELVAR::Stream>&& aStream);
    ~StreamObject() override;
    KELVAR::Stream* stream() const { return iStream.get(); }

private:
    std::unique_ptr<KELVAR::Stream> iStream;
};

struct StreamHolder {
    enum : TInt32 { FILE_READER_TYPE_ID = 5, FILE_WRITER_TYPE_ID = 6 };

    TInt32 TYPEID;
    TInt32 stream;  // object-table handle, 0 when released

    // New holders owning aStream; aStream is owned (deleted) even when the
    // allocation fails. A null stream leaves word 1 zero. Return the holder's
    // payload address.
    static Addr createReaderHolder(VMHeap& aHeap, KELVAR::InputStream* aStream);
    static Addr createWriterHolder(VMHeap& aHeap, KELVAR::OutputStream* aStream);
    // The holder's stream, or null once released. Null holder: code 1.
    static KELVAR::InputStream* getInputStream(VMHeap& aHeap, Addr aHolder);
    static KELVAR::OutputStream* getOutputStream(VMHeap& aHeap, Addr aHolder);
    // Destroys the stream now (closing its file); idempotent.
    static void destruct(VMHeap& aHeap, Addr aHolder);
};
static_assert(sizeof(StreamHolder) == 8);

}  // namespace vm
