#include <gtest/gtest.h>

#include <algorithm>

#include "builder/lib/suffix_array.h"
#include "tests/core/test_bytes.h"

namespace {

// The definition itself: suffix start positions in lexicographic order.
std::vector<int32_t> SortedSuffixes(const std::vector<uint8_t>& t) {
    std::vector<int32_t> sa(t.size());
    for (size_t i = 0; i < t.size(); ++i) sa[i] = static_cast<int32_t>(i);
    std::sort(sa.begin(), sa.end(), [&](int32_t a, int32_t b) {
        return std::lexicographical_compare(t.begin() + a, t.end(), t.begin() + b, t.end());
    });
    return sa;
}

TEST(SuffixArray, BothConstructionsAgreeWithTheDefinition) {
    std::vector<std::vector<uint8_t>> texts = {
        {},
        BytesOf("a"),
        BytesOf("banana"),
        BytesOf("mississippi"),
        Bytes(300, 'a'),                          // one long run: many equal prefixes
        BytesOf("abababababababababababababab"),  // period 2
        RandomBytes(1, 2000, 2),
        RandomBytes(2, 2000),
    };
    for (const auto& t : texts) {
        auto expected = SortedSuffixes(t);
        int32_t n = static_cast<int32_t>(t.size());
        EXPECT_EQ(BuildSuffixArrayPortable(t.data(), n), expected) << t.size();
        EXPECT_EQ(BuildSuffixArray(t.data(), n), expected) << t.size();
    }
}

}  // namespace
