#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "builder/lib/delta_encoder.h"
#include "builder/lib/delta_serializer.h"
#include "core/crc.h"
#include "tests/core/test_bytes.h"

namespace {

// Code-like data: little-endian addresses every few bytes between opcodes.
Bytes ExecutableLike(size_t n, uint32_t base, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b;
    while (b.size() < n) {
        b.push_back(static_cast<uint8_t>(0xE8 + rng() % 4));
        uint32_t address = base + static_cast<uint32_t>(b.size()) * 3;
        for (int k = 0; k < 4; ++k) b.push_back(static_cast<uint8_t>(address >> (8 * k)));
        b.push_back(static_cast<uint8_t>(rng() % 16));
    }
    b.resize(n);
    return b;
}

struct Pair {
    const char* name;
    Bytes source;
    Bytes target;
};

std::vector<Pair> Pairs() {
    const Bytes random = RandomBytes(1, 50000);
    Bytes repeating;
    for (int i = 0; i < 4000; ++i) {
        std::string line = "line " + std::to_string(i % 97) + " of a growing file\n";
        repeating.insert(repeating.end(), line.begin(), line.end());
    }
    Bytes shifted = random, edited = random, tail = random, longer = random, dense = random;
    shifted.insert(shifted.begin(), 1000, 0x90);
    for (size_t i = 100; i < edited.size(); i += 997) edited[i] ^= 0x5A;
    edited.erase(edited.begin() + 20000, edited.begin() + 20500);
    // Mismatches where diff bytes would read past the source's end, and a
    // changed stretch longer than one diff run inside a long match.
    tail.back() ^= 1;
    tail[tail.size() - 3] ^= 1;
    longer.insert(longer.end(), {1, 2, 3});
    longer[random.size() - 1] ^= 1;
    for (size_t i = 10000; i < 10600; ++i) dense[i] = static_cast<uint8_t>(dense[i] + 1 + i % 3);
    for (size_t i = 10601; i < 11000; i += 2) dense[i] ^= 0x10;
    // 65 KiB needs three-byte integers.
    Bytes big = RandomBytes(6, 70000), bigTarget = big;
    std::swap_ranges(bigTarget.begin(), bigTarget.begin() + 30000, bigTarget.begin() + 35000);
    return {{"identical", random, random},
            {"both empty", {}, {}},
            {"to empty", random, {}},
            {"from empty", {}, RandomBytes(2, 3000)},
            {"growing from empty, repetitive", {}, repeating},
            {"unrelated", RandomBytes(3, 20000), RandomBytes(4, 21000)},
            {"shifted", random, shifted},
            {"scattered edits and a cut", random, edited},
            {"executable relocated", ExecutableLike(80000, 0x401000, 5),
             ExecutableLike(81000, 0x402000, 5)},
            {"tiny",
             {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'},
             {'A', 'B', 'C', 'E', 'x', 'y', 'G', 'H'}},
            {"three-byte integers", big, bigTarget},
            {"changes in the last bytes", random, tail},
            {"change at the source end, target goes on", random, longer},
            {"dense changes inside a match", random, dense}};
}

// The builder's chosen delta, the tests' entry under every knob they may pin,
// and every layout the search can pick (not just the winner) decode with the
// shared decoder; the check all of it relies on refuses a wrong target or
// source.
TEST(DeltaEncoder, EveryLayoutRoundTripsThroughTheSharedDecoder) {
    const EncodeOptions kKnobs[] = {
        {}, {1, 1, true, false}, {3, 20, true, true}, {7, 5, false, false}};
    const SerializeParams kLayouts[] = {
        {65535, 0, 255, 2, false},
        {65535, 3, 255, 1, false},
        {1, 8, 1, 2, false},
        {7, kAdaptiveDiffLength, 20, 2, false},
        {65535, 4, 255, 2, true},
        {1, kClusterDiffLength, 255, 1, false, 1, {3, 6, 255}},
        {1, kClusterDiffLength, 7, 1, false, 4, {2, 0, 0}},
        {1, kClusterDiffLength, 255, 1, true, 2, {}},
    };
    const std::vector<Pair> pairs = Pairs();
    for (const Pair& p : pairs) {
        DeltaVariant v;
        std::string error;
        ASSERT_TRUE(EncodeSmallestDelta(p.source, p.target, EncodeOptions{}, &v, &error))
            << p.name << ": " << error;
        EXPECT_TRUE(DeltaReproduces(v, p.source, p.target)) << p.name;
        for (const EncodeOptions& knobs : kKnobs) {
            v = EncodeDelta(p.source, p.target, knobs);
            EXPECT_TRUE(DeltaReproduces(v, p.source, p.target)) << p.name;
            EXPECT_EQ(v.header.sourceCrc, CrcOfBuffer(p.source.data(), p.source.size(), kCrcStart))
                << p.name;
            EXPECT_TRUE(knobs.allowReachOutput || !(v.header.deltaFlags & kReachOutput)) << p.name;
            EXPECT_TRUE(!knobs.groupSize || v.header.groupSize == knobs.groupSize) << p.name;
            EXPECT_TRUE(!knobs.chunkSize || v.header.chunkSize == knobs.chunkSize) << p.name;
        }
        for (bool reach : {false, true}) {
            MatchText text{&p.source, &p.target, reach};
            auto spans = FindMatches(text);
            for (const SerializeParams& params : kLayouts) {
                SerializeDelta(text, spans, params, &v);
                EXPECT_TRUE(DeltaReproduces(v, p.source, p.target))
                    << p.name << " reach " << reach << " diff " << params.diffLength << " group "
                    << params.groupSize << " raw " << params.rawDiffs;
            }
        }
    }
    Bytes twice = RandomBytes(7, 2000);
    twice.resize(4000);
    std::copy_n(twice.begin(), 2000, twice.begin() + 2000);
    EXPECT_TRUE(EncodeDelta({}, twice, EncodeOptions{}).header.deltaFlags & kReachOutput)
        << "a small target that repeats itself is rebuilt from its own output";
    const Pair& p = pairs[7];  // scattered edits
    const DeltaVariant v = EncodeDelta(p.source, p.target, EncodeOptions{});
    Bytes longer = p.target;
    longer.push_back(0);
    EXPECT_FALSE(DeltaReproduces(v, p.source, longer));
    longer.pop_back();
    longer.back() ^= 1;
    EXPECT_FALSE(DeltaReproduces(v, p.source, longer));
    EXPECT_FALSE(DeltaReproduces(v, Bytes(p.source.begin(), p.source.end() - 1), p.target));
}

}  // namespace
