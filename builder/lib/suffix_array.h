// Suffix arrays for the match finder. A suffix array is unique, so the library
// construction and the portable one give identical arrays and therefore
// identical patches on every platform.
#pragma once
#include <cstdint>
#include <vector>

// Library construction where the build has it, the portable one otherwise.
std::vector<int32_t> BuildSuffixArray(const uint8_t* text, int32_t length);

// Prefix doubling with counting sorts: O(n log n), no external code.
std::vector<int32_t> BuildSuffixArrayPortable(const uint8_t* text, int32_t length);

// True when the build constructs suffix arrays with the library.
bool SuffixArrayUsesLibrary();
