// libFuzzer target: arbitrary bytes as one delta step (see FuzzDeltaDecoder).
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDeltaDecoder(data, size);
    return 0;
}
