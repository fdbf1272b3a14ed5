// Basic types shared by the whole runtime.
#pragma once

#include <cstdint>

typedef int32_t TInt32;
typedef uint32_t TUint32;
typedef int64_t TInt64;
typedef uint64_t TUint64;
typedef uint8_t TUint8;
typedef int8_t TInt8;
typedef uint16_t TUint16;
typedef double TReal;
typedef int TBool;
enum { EFalse = 0, ETrue = 1 };

namespace vm {

// One untagged bytecode word: an integer, a boolean, a reference or an address.
using Word = int32_t;
// An address in the VM address space: an offset from its base; 0 is null.
using Addr = uint32_t;

// The kind of a heap block.
enum GcCode : int32_t {
    GC_CODE_FREE = 0,
    GC_CODE_INSTANCE = 1,
    GC_CODE_NATIVE = 2,
    GC_CODE_STRING = 3,
    GC_CODE_FONT = 5,
    GC_CODE_ARRAY = 6,
    GC_CODE_OBJECT_ARRAY = 7,
    GC_CODE_VECTOR = 8,
    GC_CODE_STREAM = 12,
    GC_CODE_REFERENCE = 14,
    GC_CODE_DATETIME = 15,
    GC_CODE_DRAWABLE = 16,
    GC_CODE_HASH = 17,
    GC_CODE_TERMINATOR = 18,
};

// VM error codes.
enum VmErrorCode : int32_t {
    KErrNull = 1,
    KErrIndexOutOfBounds = 2,
    KErrDivisionByZero = 3,
    KErrDataFormat = 4,
    KErrRange = 5,
    KErrInvalidArgument = 6,
    KErrIO = 7,
    KErrMath = 8,
    KErrAssertion = 9,
    KErrVm = 10,
    KErrFatal = 11,
    KErrTerminate = 12,
    KErrUnsupported = 13,
};

}  // namespace vm
