// The libFuzzer entry points of one target, chosen by MCB_FUZZ_TARGET.
#include "FuzzSupport.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::initQt();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    return fuzz::MCB_FUZZ_TARGET(data, size);
}
