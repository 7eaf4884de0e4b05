// libFuzzer target: arbitrary bytes as a record stream.
#include "fuzz/fuzz_entries.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzRecordReader(data, size);
    return 0;
}
