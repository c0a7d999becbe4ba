// libFuzzer entry of the probe target; the work is in FuzzTargets.cpp.
#include "tests/fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) { return FuzzSetUp() ? 0 : 1; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
    FuzzProbe(Data, Size);
    return 0;
}
