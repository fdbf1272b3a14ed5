#include "RangeCheck.h"

#include <string>

#include "VMError.h"

namespace vm {

ResolvedRange resolveRange(TInt32 aBase, TInt32 aSize, TInt32 aFirst, TInt32 aLength)
{
    const TInt64 end = TInt64(aBase) + aSize;
    if (aLength == 0) {
        if (aFirst < 0)
            raiseVmError(KErrRange, "Invalid Range, first should be non-negative (first=" +
                                        std::to_string(aFirst) + ")");
        return {aFirst, 0};
    }
    if (aLength < 0) {
        if (aFirst < aBase)
            raiseVmError(KErrRange, "Invalid Range, first should not be less than " + std::to_string(aBase) +
                                        ", first = " + std::to_string(aFirst));
        if (aFirst > end)
            raiseVmError(KErrRange, "Invalid Range, first should not be more than " + std::to_string(end) +
                                        ", first = " + std::to_string(aFirst));
        // base <= first <= end, so 0 <= end - first <= size.
        return {aFirst, TInt32(end - aFirst)};
    }
    if (aFirst < aBase)
        raiseVmError(KErrRange, "Invalid Range, first should not be less than" + std::to_string(aBase) +
                                    ", first =  " + std::to_string(aFirst));
    if (TInt64(aFirst) + aLength > end)
        raiseVmError(KErrRange, "Invalid Range, range out of bounds: " + std::to_string(TInt64(aFirst) + aLength) +
                                    " > " + std::to_string(end));
    return {aFirst, aLength};
}

}  // namespace vm
