// File and stream groups: FileReader (24) and FileWriter (22) open files and
// move in them, InputStream (23) and OutputStream (21) read, write and close.
//
// A reader or writer operand is a reference to an object whose first word
// holds its StreamHolder (0 before a successful open). Every native follows
// one frame: null-check the object, fetch the holder, check it (none: "File
// is not open"), check its TYPEID (code 10 "Invalid TYPEID"), check that the
// stream is open, call one stream operation, turn a failure into an
// IOException, then adjust the stack (never when raising). The InputStream
// and OutputStream groups check the TYPEID too: a writer's holder given to
// them (or a reader's to OutputStream) is a VM error, never read as the
// other kind of stream.
//
// Choices:
//  - InputStream read of more than 64 KiB beyond what remains raises before
//    the array is made (a huge count never allocates); the position is then
//    at the end, as a short read leaves it.
//  - Written bytes may wait in the stream's buffer; a failure to deliver
//    them is reported by the write that meets it or by close, which raises
//    an IOException (no text) when the stream reports lost output.
#include <string>

#include "../IO/Stream.h"
#include "../Containers/OVector.h"
#include "ObjectModel.h"
#include "RangeCheck.h"
#include "StreamHolder.h"
#include "StringObjects.h"
#include "VirtualMachine.h"

namespace vm {

namespace {

// Reads above this many bytes are checked against what remains before the
// array is made (measuring the size costs a seek, small reads skip it).
constexpr TInt32 kLargeRead = 1 << 16;

[[noreturn]] void notOpen()
{
    raiseVmError(KErrIO, "File is not open");
}

// The holder in the first word of a reader or writer object; 0 when none.
Addr holderOf(VMHeap& aHeap, Word aObject)
{
    return Addr(aHeap.space().loadWord(nullCheck(Addr(aObject))));
}

// The open input stream of a reader object, through the whole frame.
KELVAR::InputStream& openInput(VMHeap& aHeap, Word aObject)
{
    Addr holder = holderOf(aHeap, aObject);
    if (holder == 0)
        notOpen();
    KELVAR::InputStream* stream = StreamHolder::getInputStream(aHeap, holder);
    if (!stream || !stream->isOpen())
        notOpen();
    return *stream;
}

// The output stream of a writer object: holder and TYPEID checked; null when
// the holder's stream is gone. The open test is the caller's (its place in
// the error order differs).
KELVAR::OutputStream* outputOf(VMHeap& aHeap, Word aObject)
{
    Addr holder = holderOf(aHeap, aObject);
    if (holder == 0)
        notOpen();
    return StreamHolder::getOutputStream(aHeap, holder);
}

KELVAR::OutputStream& openOutput(VMHeap& aHeap, Word aObject)
{
    KELVAR::OutputStream* stream = outputOf(aHeap, aObject);
    if (!stream || !stream->isOpen())
        notOpen();
    return *stream;
}

void checkPosition(Word aPosition)
{
    if (aPosition < 0)
        raiseVmError(KErrInvalidArgument, "Position is less than zero: " + std::to_string(aPosition));
}

void ioFailure()
{
    raiseVmError(KErrIO);
}

void write(KELVAR::OutputStream& aStream, const TUint8* aData, TInt32 aCount)
{
    if (aCount > 0 && !aStream.write(aData, TUint32(aCount)))
        ioFailure();
}

}  // namespace

void VirtualMachine::fileReaderNative(int function)
{
    VMHeap& heap = *heap_;
    switch (function) {
    case 1: {  // reader, name
        nullCheck(Addr(arg(1)));
        const OString& name = stringOf(heap, Addr(arg(0)));
        if (name.isEmpty())
            raiseVmError(KErrInvalidArgument, "Filename is empty");
        KELVAR::InputStream* stream = host_ ? host_->openInputStream(name, 0) : nullptr;
        if (!stream)
            raiseVmError(KErrIO, u"Could not open file: " + std::u16string(name.view()));
        Addr holder = StreamHolder::createReaderHolder(heap, stream);
        space_.storeWord(Addr(arg(1)), Word(holder));
        pop(2);
        return;
    }
    case 2: {  // reader, position
        Word position = arg(0);
        checkPosition(position);
        if (!openInput(heap, arg(1)).setPosition(position))
            ioFailure();
        pop(2);
        return;
    }
    case 3:
        arg(0) = openInput(heap, arg(0)).position();
        return;
    case 4:
        arg(0) = openInput(heap, arg(0)).streamSize();
        return;
    default:
        unknownNativeFunction("FileReader:");
    }
}

void VirtualMachine::fileWriterNative(int function)
{
    VMHeap& heap = *heap_;
    switch (function) {
    case 1: {  // writer, name, append
        nullCheck(Addr(arg(2)));
        const OString& name = stringOf(heap, Addr(arg(1)));
        bool append = arg(0) != 0;
        if (name.isEmpty())
            raiseVmError(KErrInvalidArgument, "Filename is empty");
        KELVAR::OutputStream* stream = host_ ? host_->openOutputStream(name, append ? 0 : 1) : nullptr;
        if (!stream)
            ioFailure();
        Addr holder = StreamHolder::createWriterHolder(heap, stream);
        space_.storeWord(Addr(arg(2)), Word(holder));
        pop(3);
        return;
    }
    case 2: {  // writer, position
        Word position = arg(0);
        checkPosition(position);
        if (!openOutput(heap, arg(1)).setPosition(position))
            ioFailure();
        pop(2);
        return;
    }
    case 3:
        arg(0) = openOutput(heap, arg(0)).position();
        return;
    case 4:
        arg(0) = openOutput(heap, arg(0)).streamSize();
        return;
    default:
        unknownNativeFunction("FileWriter:");
    }
}

void VirtualMachine::inputStreamNative(int function)
{
    VMHeap& heap = *heap_;
    switch (function) {
    case 1: {  // reader: close, keeping the holder
        Addr holder = holderOf(heap, arg(0));
        if (holder != 0)
            if (KELVAR::InputStream* stream = StreamHolder::getInputStream(heap, holder))
                stream->close();
        pop(1);
        return;
    }
    case 2: {  // reader: is open
        Addr holder = holderOf(heap, arg(0));
        KELVAR::InputStream* stream = holder ? StreamHolder::getInputStream(heap, holder) : nullptr;
        arg(0) = stream && stream->isOpen() ? -1 : 0;
        return;
    }
    case 3: {  // reader, count: a new byte[] of count bytes
        Word count = arg(0);
        if (count < 0)
            raiseVmError(KErrInvalidArgument, "The number of bytes should be non-negative");
        KELVAR::InputStream& stream = openInput(heap, arg(1));
        if (count > kLargeRead) {
            TInt32 size = stream.streamSize(), position = stream.position();
            if (count > size - position) {
                stream.setPosition(size);
                ioFailure();
            }
        }
        Addr array = createByteVector(count);
        if (count > 0 && !stream.read(OVector::ofHolder(heap, array, 1).data(), TUint32(count)))
            ioFailure();
        pop(1);
        arg(0) = Word(array);
        return;
    }
    default:
        unknownNativeFunction("InputStream:");
    }
}

void VirtualMachine::outputStreamNative(int function)
{
    VMHeap& heap = *heap_;
    switch (function) {
    case 1: {  // writer: close, keeping the holder
        Addr holder = holderOf(heap, arg(0));
        if (holder != 0)
            if (KELVAR::OutputStream* stream = StreamHolder::getOutputStream(heap, holder))
                if (stream->isOpen() && !stream->close())
                    ioFailure();
        pop(1);
        return;
    }
    case 2: {  // writer: is open
        Addr holder = holderOf(heap, arg(0));
        KELVAR::OutputStream* stream = holder ? StreamHolder::getOutputStream(heap, holder) : nullptr;
        arg(0) = stream && stream->isOpen() ? -1 : 0;
        return;
    }
    case 3: {  // writer, data
        KELVAR::OutputStream* stream = outputOf(heap, arg(1));
        OVector data = OVector::ofHolder(heap, Addr(arg(0)), 1);
        if (!stream)
            notOpen();
        write(*stream, data.data(), data.count());
        pop(2);
        return;
    }
    case 4: {  // writer, offset, count, data
        KELVAR::OutputStream* stream = outputOf(heap, arg(3));
        OVector data = OVector::ofHolder(heap, Addr(arg(0)), 1);
        ResolvedRange range = resolveRange(0, data.count(), arg(2), arg(1));
        if (!stream || !stream->isOpen())
            notOpen();
        write(*stream, data.data() + range.first, range.length);
        pop(4);
        return;
    }
    default:
        unknownNativeFunction("OutputStream:");
    }
}

}  // namespace vm
