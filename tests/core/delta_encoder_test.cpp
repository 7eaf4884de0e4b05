#include "builder/lib/delta_encoder.h"

#include <gtest/gtest.h>

#include "core/crc.h"
#include "tests/core/test_bytes.h"

namespace {

// A target made from the source by the edits real file versions show:
// changed bytes, a deleted run, an inserted run, the same run again (found
// only in the output), a block moved to the front.
Bytes Edited(const Bytes& source, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes target = source, fresh = RandomBytes(seed, 1 + rng() % 300);
    for (size_t i = 0; i < source.size() / 40; ++i) {
        target[rng() % target.size()] ^= static_cast<uint8_t>(1 + rng() % 3);
    }
    target.erase(target.begin() + target.size() / 2, target.begin() + target.size() * 2 / 3);
    target.insert(target.begin() + target.size() / 4, fresh.begin(), fresh.end());
    target.insert(target.end(), fresh.begin(), fresh.end());
    target.insert(target.begin(), source.end() - source.size() / 5, source.end());
    return target;
}

// Edited files and the smallest cases, under every option; the check the
// round trip relies on must itself refuse a wrong target or source.
TEST(DeltaEncoder, RoundTripsUnderEveryOption) {
    const EncodeOptions kOptions[] = {{},
                                      {1, 1, true, false},
                                      {3, 20, true, true},
                                      {190, 255, true, false},
                                      {7, 5, false, false},
                                      {2, 2, false, true}};
    const char* kTiny[][2] = {
        {"", ""}, {"abc", ""}, {"", "abc"}, {"a", "a"}, {"ABCDEFGH", "ABCExyGH"}};
    std::vector<std::pair<Bytes, Bytes>> pairs;
    for (const auto& tiny : kTiny) pairs.emplace_back(BytesOf(tiny[0]), BytesOf(tiny[1]));
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Bytes source = RandomBytes(seed, 200 + seed * 97, seed % 3 ? 256 : 4);
        pairs.emplace_back(source, Edited(source, seed * 7919));
    }
    for (const auto& [source, target] : pairs) {
        for (const EncodeOptions& options : kOptions) {
            DeltaVariant v = EncodeDelta(source, target, options);
            ASSERT_TRUE(VerifyDelta(v, source, target))
                << source.size() << " group " << options.groupSize << " chunk "
                << int(options.chunkSize) << " raw " << options.rawDiffs;
            EXPECT_EQ(v.header.sourceCrc, CrcOfBuffer(source.data(), source.size(), kCrcStart));
            EXPECT_TRUE(options.allowReachOutput || !(v.header.deltaFlags & kReachOutput));
        }
    }
    const auto& [source, target] = pairs.back();
    DeltaVariant v = EncodeDelta(source, target, EncodeOptions{});
    Bytes longer = target;
    longer.push_back(0);
    EXPECT_FALSE(VerifyDelta(v, source, longer));
    longer.pop_back();
    longer.back() ^= 1;
    EXPECT_FALSE(VerifyDelta(v, source, longer));
    EXPECT_FALSE(VerifyDelta(v, Bytes(source.begin(), source.end() - 1), target));
}

}  // namespace
