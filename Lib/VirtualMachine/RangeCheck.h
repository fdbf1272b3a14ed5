// Applying a range {first, length} (length -1: up to the end) to a container
// whose valid indices are base .. base + size - 1.
#pragma once

#include "Types.h"

namespace vm {

struct ResolvedRange {
    TInt32 first;
    TInt32 length;
};

// Validates the range and returns it with a negative length replaced by the
// length up to the end. Violations raise code 5 (RangeException) with a
// message naming the offending values. Sums are taken in 64 bits, so a range
// whose end lies beyond 2^31 is out of bounds, never wrapped, and the message
// shows the true sum. A length of 0 only requires first >= 0.
ResolvedRange resolveRange(TInt32 aBase, TInt32 aSize, TInt32 aFirst, TInt32 aLength);

}  // namespace vm
