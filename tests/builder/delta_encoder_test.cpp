#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "builder/lib/delta_block_writer.h"
#include "builder/lib/delta_choice.h"
#include "builder/lib/delta_serializer.h"
#include "core/crc.h"

namespace {

Bytes Random(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(n);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

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

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Pair {
    const char* name;
    Bytes source;
    Bytes target;
};

std::vector<Pair> Pairs() {
    std::vector<Pair> pairs;
    Bytes random = Random(50000, 1);
    pairs.push_back({"identical", random, random});
    pairs.push_back({"both empty", {}, {}});
    pairs.push_back({"to empty", random, {}});
    pairs.push_back({"from empty", {}, Random(3000, 2)});
    Bytes repeating;
    for (int i = 0; i < 4000; ++i) {
        Bytes line = Text("line " + std::to_string(i % 97) + " of a growing file\n");
        repeating.insert(repeating.end(), line.begin(), line.end());
    }
    pairs.push_back({"growing from empty, repetitive", {}, repeating});
    pairs.push_back({"unrelated", Random(20000, 3), Random(21000, 4)});
    Bytes shifted = random;
    shifted.insert(shifted.begin(), 1000, 0x90);
    pairs.push_back({"shifted", random, shifted});
    Bytes edited = random;
    for (size_t i = 100; i < edited.size(); i += 997) edited[i] ^= 0x5A;
    edited.erase(edited.begin() + 20000, edited.begin() + 20500);
    pairs.push_back({"scattered edits and a cut", random, edited});
    pairs.push_back({"executable relocated", ExecutableLike(80000, 0x401000, 5),
                     ExecutableLike(81000, 0x402000, 5)});
    pairs.push_back({"tiny", Text("ABCDEFGH"), Text("ABCExyGH")});
    // Above 16 MiB the bound needs four-byte integers; 65 KiB needs three.
    Bytes big = Random(70000, 6);
    Bytes bigTarget = big;
    std::swap_ranges(bigTarget.begin(), bigTarget.begin() + 30000, bigTarget.begin() + 35000);
    pairs.push_back({"three-byte integers", big, bigTarget});
    // Mismatches where diff bytes would read past the source's end, and a
    // changed stretch longer than one diff run inside a long match.
    Bytes tail = random;
    tail.back() ^= 1;
    tail[tail.size() - 3] ^= 1;
    pairs.push_back({"changes in the last bytes", random, tail});
    Bytes longer = random;
    longer.insert(longer.end(), {1, 2, 3});
    longer[random.size() - 1] ^= 1;
    pairs.push_back({"change at the source end, target goes on", random, longer});
    Bytes dense = random;
    for (size_t i = 10000; i < 10600; ++i) dense[i] = static_cast<uint8_t>(dense[i] + 1 + i % 3);
    for (size_t i = 10601; i < 11000; i += 2) dense[i] ^= 0x10;
    pairs.push_back({"dense changes inside a match", random, dense});
    return pairs;
}

TEST(DeltaEncoder, RoundTripsThroughTheSharedDecoder) {
    for (const Pair& p : Pairs()) {
        DeltaVariant v;
        std::string error;
        ASSERT_TRUE(EncodeSmallestDelta(p.source, p.target, EncodeOptions{}, &v, &error))
            << p.name << ": " << error;
        EXPECT_TRUE(DeltaReproduces(v, p.source, p.target)) << p.name;
        EXPECT_EQ(v.header.sourceCrc, CrcOfBuffer(p.source.data(), p.source.size(), kCrcStart))
            << p.name;
    }
}

// Every layout the search can pick must decode on its own, not just the winner.
TEST(DeltaEncoder, EveryLayoutDecodes) {
    const SerializeParams layouts[] = {
        {65535, 0, 255, 2, false},
        {65535, 3, 255, 1, false},
        {1, 8, 1, 2, false},
        {7, kAdaptiveDiffLength, 20, 2, false},
        {65535, 4, 255, 2, true},
        {1, kClusterDiffLength, 255, 1, false, 1, {3, 6, 255}},
        {1, kClusterDiffLength, 7, 1, false, 4, {2, 0, 0}},
        {1, kClusterDiffLength, 255, 1, true, 2, {}},
    };
    for (const Pair& p : Pairs()) {
        for (bool reach : {false, true}) {
            MatchText text{&p.source, &p.target, reach};
            auto spans = FindMatches(text);
            for (const SerializeParams& params : layouts) {
                DeltaVariant v;
                SerializeDelta(text, spans, params, &v);
                EXPECT_TRUE(DeltaReproduces(v, p.source, p.target))
                    << p.name << " reach " << reach << " diff " << params.diffLength << " group "
                    << params.groupSize << " raw " << params.rawDiffs;
            }
        }
    }
}

TEST(DeltaEncoder, SmallChangesGiveSmallDeltas) {
    Bytes source = ExecutableLike(200000, 0x401000, 9);
    Bytes target = source;
    for (size_t i = 5000; i < target.size(); i += 10007) target[i] ^= 0xFF;
    DeltaVariant v;
    std::string error;
    ASSERT_TRUE(EncodeSmallestDelta(source, target, EncodeOptions{}, &v, &error));
    Bytes all;
    for (const Bytes& b : v.blocks) all.insert(all.end(), b.begin(), b.end());
    EXPECT_LT(DeflatedSize(all, 9), 400u);
}

// Relocated addresses change a few bytes at a time: a diff length per copy
// carries the changes as diff bytes, hardly anything is left to inserts, and
// the diff runs stay as short as the clusters.
TEST(DeltaEncoder, ClusterLayoutCarriesRelocationsAsDiffBytes) {
    // Pointers at irregular distances; those into the moved half shift by
    // amounts that rewrite one to three of their bytes.
    std::mt19937 rng(7);
    Bytes source = Random(120000, 8), target;
    std::vector<size_t> pointerAt;
    for (size_t at = 16; at + 4 < source.size(); at += 6 + rng() % 40) pointerAt.push_back(at);
    target = source;
    const uint32_t shifts[] = {0x10, 0x1234, 0x10000};
    for (size_t at : pointerAt) {
        uint32_t pointer = 0x400000 + rng() % 0x200000;
        uint32_t moved = pointer >= 0x500000 ? pointer + shifts[rng() % 3] : pointer;
        for (int k = 0; k < 4; ++k) {
            source[at + k] = static_cast<uint8_t>(pointer >> (8 * k));
            target[at + k] = static_cast<uint8_t>(moved >> (8 * k));
        }
    }
    MatchText text{&source, &target, false};
    auto spans = FindMatches(text);
    const SerializeParams cluster{1, kClusterDiffLength, 255, 1, false, 1, {3, 6, 255}};
    DeltaVariant v;
    SerializeDelta(text, spans, cluster, &v);
    ASSERT_TRUE(DeltaReproduces(v, source, target));
    EXPECT_LT(v.blocks[kInsertBlock].size(), 16u);
    // Tight clusters: at most the largest short step per moved pointer.
    size_t moved = 0;
    for (size_t at : pointerAt) moved += !std::equal(&source[at], &source[at + 4], &target[at]);
    EXPECT_LE(v.blocks[kDiffBlock].size(), moved * 6);
}

TEST(DeltaEncoder, ReachingIntoTheOutputPaysForLongRepeats) {
    // A target that repeats a random block far beyond deflate's window.
    Bytes block = Random(64 * 1024, 11);
    Bytes target = block;
    target.insert(target.end(), block.begin(), block.end());
    DeltaVariant v;
    std::string error;
    ASSERT_TRUE(EncodeSmallestDelta({}, target, EncodeOptions{}, &v, &error));
    EXPECT_TRUE(v.header.deltaFlags & kReachOutput);
    EXPECT_LT(v.blocks[kInsertBlock].size(), block.size() + 1024);
}

TEST(DeltaEncoder, SameInputsGiveSameBytes) {
    Bytes source = ExecutableLike(60000, 0x401000, 3);
    Bytes target = ExecutableLike(61000, 0x401800, 3);
    DeltaVariant a, b;
    std::string error;
    ASSERT_TRUE(EncodeSmallestDelta(source, target, EncodeOptions{}, &a, &error));
    ASSERT_TRUE(EncodeSmallestDelta(source, target, EncodeOptions{}, &b, &error));
    for (int k = 0; k < kDeltaBlockCount; ++k) EXPECT_EQ(a.blocks[k], b.blocks[k]);
    EXPECT_EQ(0, memcmp(&a.header, &b.header, sizeof a.header));
}

// The integer layout depends on the bound: extra bytes only when the bound
// allows them, and a sign bit for every integer.
TEST(DeltaBlockWriter, PackedIntegerWidthFollowsTheBound) {
    struct Case {
        int64_t bound;
        int64_t value;
        size_t commandBytes;
        size_t bitsB;
        size_t bitsC;
    };
    const Case cases[] = {
        {255, 200, 1, 1, 0},
        {255, -3, 1, 1, 0},
        {256, 255, 1, 2, 0},
        {65535, 256, 2, 2, 0},
        {65536, 256, 2, 2, 1},
        {65536, 70000, 3, 2, 1},
        {16777216, 70000, 3, 2, 1},
        {16777216, 16777216, 4, 2, 2},
        {16777216, -16777215, 3, 2, 2},
    };
    for (const Case& c : cases) {
        DeltaBlockWriter w(c.bound);
        w.PackedInteger(c.value);
        EXPECT_EQ(w.blocks()[kCommandBlock].size(), c.commandBytes) << c.bound << " " << c.value;
        // Each bit stream holds its bits in the low end of its first byte.
        size_t bitsB = c.bitsB, bitsC = c.bitsC;
        EXPECT_EQ(w.blocks()[kBitStreamB].size(), bitsB > 0 ? 1u : 0u);
        EXPECT_EQ(w.blocks()[kBitStreamC].size(), bitsC > 0 ? 1u : 0u);
        if (bitsB > 0) {
            bool negative = (w.blocks()[kBitStreamB][0] >> (bitsB - 1)) & 1;
            EXPECT_EQ(negative, c.value < 0);
        }
    }
    EXPECT_EQ(DeltaBlockWriter::MaxMagnitude(255), 0xFFu);
    EXPECT_EQ(DeltaBlockWriter::MaxMagnitude(70000), 0xFFFFFFu);
}

}  // namespace
