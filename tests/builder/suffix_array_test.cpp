#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

#include "builder/lib/suffix_array.h"

namespace {

std::vector<uint8_t> Text(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

// The definition itself: suffix start positions in lexicographic order.
std::vector<int32_t> SortedSuffixes(const std::vector<uint8_t>& t) {
    std::vector<int32_t> sa(t.size());
    for (size_t i = 0; i < t.size(); ++i) sa[i] = static_cast<int32_t>(i);
    std::sort(sa.begin(), sa.end(), [&](int32_t a, int32_t b) {
        return std::lexicographical_compare(t.begin() + a, t.end(), t.begin() + b, t.end());
    });
    return sa;
}

std::vector<uint8_t> RandomText(size_t n, int alphabet, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> t(n);
    for (auto& b : t) b = static_cast<uint8_t>(rng() % alphabet);
    return t;
}

TEST(SuffixArray, BothConstructionsAgreeWithTheDefinition) {
    std::vector<std::vector<uint8_t>> texts = {
        {},
        Text("a"),
        Text("banana"),
        Text("mississippi"),
        Text(std::string(300, 'a')),           // one long run: many equal prefixes
        Text("abababababababababababababab"),  // period 2
        RandomText(2000, 2, 1),
        RandomText(2000, 256, 2),
    };
    for (const auto& t : texts) {
        auto expected = SortedSuffixes(t);
        int32_t n = static_cast<int32_t>(t.size());
        EXPECT_EQ(BuildSuffixArrayPortable(t.data(), n), expected) << t.size();
        EXPECT_EQ(BuildSuffixArray(t.data(), n), expected) << t.size();
    }
}

}  // namespace
