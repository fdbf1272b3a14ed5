// The Math group's random generator: MT19937 over VirtualMachine::RandomState.
#pragma once

#include "VirtualMachine.h"

namespace vm {

// The next 32-bit output. The state is regenerated whenever the index is 0,
// that is before the first draw after seeding and after every 624 draws, so
// a seeded state yields exactly the MT19937 sequence of those 624 words. An
// index outside 0..623 counts as 0. The state is seeded from clock() when the
// VM has none yet.
TUint32 drawRandom(VirtualMachine& aVm);

}  // namespace vm
