#include "builder/lib/suffix_array.h"

#include <algorithm>

#ifdef HAVE_DIVSUFSORT
#include <divsufsort.h>
#endif

namespace {

constexpr int32_t kByteValues = 256;

// Stable counting sort of `order` by key[order[i]], keys in [0, keyCount).
void SortByKey(const std::vector<int32_t>& key, int32_t keyCount, const std::vector<int32_t>& in,
               std::vector<int32_t>* out, std::vector<int32_t>* counts) {
    counts->assign(static_cast<size_t>(keyCount) + 1, 0);
    for (int32_t index : in) ++(*counts)[key[index] + 1];
    for (int32_t k = 0; k < keyCount; ++k) (*counts)[k + 1] += (*counts)[k];
    for (int32_t index : in) (*out)[(*counts)[key[index]]++] = index;
}

}  // namespace

std::vector<int32_t> BuildSuffixArrayPortable(const uint8_t* text, int32_t length) {
    const size_t n = static_cast<size_t>(length);
    std::vector<int32_t> sa(n), rank(n), next(n), scratch(n), counts;
    if (n == 0) return sa;
    for (size_t i = 0; i < n; ++i) {
        rank[i] = text[i];
        scratch[i] = static_cast<int32_t>(i);
    }
    int32_t classes = kByteValues;
    SortByKey(rank, classes, scratch, &sa, &counts);
    for (int32_t k = 1;; k <<= 1) {
        // Order by the second half first: suffixes without one come first.
        size_t p = 0;
        for (int32_t i = length - std::min(k, length); i < length; ++i) scratch[p++] = i;
        for (int32_t i : sa) {
            if (i >= k) scratch[p++] = i - k;
        }
        SortByKey(rank, classes, scratch, &sa, &counts);
        auto second = [&](int32_t i) { return i + k < length ? rank[i + k] : -1; };
        next[sa[0]] = 0;
        for (size_t i = 1; i < n; ++i) {
            int32_t a = sa[i - 1], b = sa[i];
            bool same = rank[a] == rank[b] && second(a) == second(b);
            next[b] = next[a] + (same ? 0 : 1);
        }
        rank.swap(next);
        classes = rank[sa[n - 1]] + 1;
        if (classes == length || k >= length) break;
        if (classes < kByteValues) classes = kByteValues;
    }
    return sa;
}

std::vector<int32_t> BuildSuffixArray(const uint8_t* text, int32_t length) {
#ifdef HAVE_DIVSUFSORT
    std::vector<int32_t> sa(static_cast<size_t>(length));
    if (length > 0 && divsufsort(text, sa.data(), length) == 0) return sa;
#endif
    return BuildSuffixArrayPortable(text, length);
}

bool SuffixArrayUsesLibrary() {
#ifdef HAVE_DIVSUFSORT
    return true;
#else
    return false;
#endif
}
