// The registry pass: for every registry record, checks that the software is
// registered, then opens existing keys and writes the record's values.
#pragma once
#include <cstdint>

// PassCallback of the registry pass: 0, 1, 41 or 42.
int ApplyRegistryRecord(int section, uint8_t kind);
