#include "FuzzTargets.h"

// One libFuzzer entry per executable; the target's name comes from the build.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const FuzzTarget target = FuzzTargetByName(NIMBRIL_FUZZ_TARGET);
    return target(data, size);
}
