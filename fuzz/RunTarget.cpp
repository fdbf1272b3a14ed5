// Load, run with a step limit, then every kind of event: no input may crash
// the runtime, hang it or reach host memory.
#include "FuzzSupport.h"

int fuzz::run(const uint8_t* data, size_t size)
{
    fuzz::runProgram(data, size, false);
    return 0;
}
