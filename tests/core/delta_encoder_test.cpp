#include "builder/lib/delta_encoder.h"

#include <gtest/gtest.h>

#include "core/crc.h"
#include "tests/core/test_bytes.h"

namespace {

size_t DeltaSize(const DeltaVariant& v) {
    size_t total = 0;
    for (const Bytes& b : v.blocks) total += b.size();
    return total;
}

// A target made from the source by the edits real file versions show:
// changed bytes, inserted and deleted runs, repeats of itself.
Bytes Mutate(const Bytes& source, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes target;
    for (size_t at = 0; at < source.size();) {
        size_t run = 1 + rng() % 300;
        switch (rng() % 6) {
            case 0:  // changed bytes
                for (size_t i = 0; i < run % 12 && at < source.size(); ++i, ++at) {
                    target.push_back(static_cast<uint8_t>(source[at] + 1 + rng() % 3));
                }
                break;
            case 1:  // inserted run
                for (size_t i = 0; i < run; ++i) target.push_back(static_cast<uint8_t>(rng()));
                break;
            case 2:  // deleted run
                at += run;
                break;
            case 3:  // repeat of what the target already holds
                for (size_t i = 0, from = rng() % (target.size() + 1);
                     i < run && from + i < target.size(); ++i) {
                    target.push_back(target[from + i]);
                }
                break;
            default:  // unchanged run
                for (size_t i = 0; i < run && at < source.size(); ++i)
                    target.push_back(source[at++]);
        }
    }
    return target;
}

// Mutated files and the smallest cases, under every option; the check the
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
        pairs.emplace_back(source, Mutate(source, seed * 7919));
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

TEST(DeltaEncoder, RepeatsInTheTargetReachIntoTheOutput) {
    Bytes unit = RandomBytes(5, 3000);
    Bytes target;
    for (int i = 0; i < 20; ++i) target.insert(target.end(), unit.begin(), unit.end());
    for (bool allow : {true, false}) {
        DeltaVariant v = EncodeDelta(Bytes(), target, EncodeOptions{0, 0, allow, false});
        ASSERT_TRUE(VerifyDelta(v, Bytes(), target));
        EXPECT_EQ((v.header.deltaFlags & kReachOutput) != 0, allow);
        EXPECT_TRUE(!allow || DeltaSize(v) < 2 * unit.size()) << DeltaSize(v);
    }
}

// Sizes whose bound needs three and four integer bytes; the copies must carry
// displacements that really use them.
TEST(DeltaEncoder, LargeFilesUseWideIntegers) {
    for (size_t size : {size_t{70000}, size_t{16777216 + 4096}}) {
        Bytes source = RandomBytes(static_cast<uint32_t>(size), size);
        Bytes target(source.end() - 3000, source.end());
        target.insert(target.end(), source.begin(), source.begin() + 3000);
        target[1500] ^= 0x55;
        DeltaVariant v = EncodeDelta(source, target, EncodeOptions{});
        EXPECT_TRUE(VerifyDelta(v, source, target)) << size;
        EXPECT_LT(DeltaSize(v), 200u) << size;
    }
}

}  // namespace
