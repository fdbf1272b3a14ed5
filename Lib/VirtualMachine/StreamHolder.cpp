#include "StreamHolder.h"

#include "../IO/Stream.h"
#include "Heap.h"
#include "ObjectModel.h"

namespace vm {

namespace {

Addr createHolder(VMHeap& aHeap, TInt32 aTypeId, KELVAR::Stream* aStream)
{
    std::unique_ptr<KELVAR::Stream> stream(aStream);
    std::unique_ptr<StreamObject> object = aStream ? std::make_unique<StreamObject>(std::move(stream)) : nullptr;
    Addr holder = aHeap.alloc(sizeof(StreamHolder), 0, GC_CODE_STREAM);
    aHeap.space().setRawWord(holder, aTypeId);
    if (!object)
        return holder;
    try {
        aHeap.attach(holder + 4, object.get());
    } catch (...) {
        aHeap.freeObject(holder);
        throw;
    }
    object.release();
    return holder;
}

// The holder's stream after checking that it is a holder of aTypeId.
KELVAR::Stream* streamOf(VMHeap& aHeap, Addr aHolder, TInt32 aTypeId)
{
    nullCheck(aHolder);
    if (aHeap.gcCodeOf(aHolder) != GC_CODE_STREAM || aHeap.payloadSize(aHolder) < sizeof(StreamHolder) ||
        aHeap.space().loadWord(aHolder) != aTypeId)
        raiseVmError(KErrVm, "Invalid TYPEID");
    StreamObject* object = aHeap.objectAs<StreamObject>(aHolder + 4);
    return object ? object->stream() : nullptr;
}

}  // namespace

StreamObject::StreamObject(std::unique_ptr<KELVAR::Stream>&& aStream) : iStream(std::move(aStream)) {}

StreamObject::~StreamObject() = default;

Addr StreamHolder::createReaderHolder(VMHeap& aHeap, KELVAR::InputStream* aStream)
{
    return createHolder(aHeap, FILE_READER_TYPE_ID, aStream);
}

Addr StreamHolder::createWriterHolder(VMHeap& aHeap, KELVAR::OutputStream* aStream)
{
    return createHolder(aHeap, FILE_WRITER_TYPE_ID, aStream);
}

// A TYPEID rewritten to the other kind still names the stream of the first:
// the stream's own class decides.
KELVAR::InputStream* StreamHolder::getInputStream(VMHeap& aHeap, Addr aHolder)
{
    KELVAR::Stream* stream = streamOf(aHeap, aHolder, FILE_READER_TYPE_ID);
    if (!stream)
        return nullptr;
    KELVAR::InputStream* input = dynamic_cast<KELVAR::InputStream*>(stream);
    if (!input)
        raiseVmError(KErrVm, "Invalid TYPEID");
    return input;
}

KELVAR::OutputStream* StreamHolder::getOutputStream(VMHeap& aHeap, Addr aHolder)
{
    KELVAR::Stream* stream = streamOf(aHeap, aHolder, FILE_WRITER_TYPE_ID);
    if (!stream)
        return nullptr;
    KELVAR::OutputStream* output = dynamic_cast<KELVAR::OutputStream*>(stream);
    if (!output)
        raiseVmError(KErrVm, "Invalid TYPEID");
    return output;
}

void StreamHolder::destruct(VMHeap& aHeap, Addr aHolder)
{
    nullCheck(aHolder);
    TInt32 typeId = aHeap.gcCodeOf(aHolder) == GC_CODE_STREAM && aHeap.payloadSize(aHolder) >= sizeof(StreamHolder)
                        ? aHeap.space().loadWord(aHolder)
                        : 0;
    if (typeId != FILE_READER_TYPE_ID && typeId != FILE_WRITER_TYPE_ID)
        raiseVmError(KErrVm, "Invalid TYPEID");
    aHeap.detach(aHolder + 4);
}

}  // namespace vm
