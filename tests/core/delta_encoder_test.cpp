#include "builder/lib/delta_encoder.h"

#include <gtest/gtest.h>

#include <random>

#include "core/crc.h"
#include "tests/core/test_step_io.h"

namespace {

size_t DeltaSize(const DeltaVariant& v) {
    size_t total = 0;
    for (const Bytes& b : v.blocks) total += b.size();
    return total;
}

// A target made from the source by the edits real file versions show:
// changed bytes, inserted and deleted runs, moved blocks, repeats of itself.
Bytes Mutate(const Bytes& source, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes target;
    size_t at = 0;
    while (at < source.size()) {
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
                if (target.size() > run) {
                    size_t from = rng() % (target.size() - run);
                    for (size_t i = 0; i < run; ++i) target.push_back(target[from + i]);
                }
                break;
            default:  // unchanged run
                for (size_t i = 0; i < run && at < source.size(); ++i)
                    target.push_back(source[at++]);
        }
    }
    return target;
}

TEST(DeltaEncoder, RoundTripsMutatedFilesUnderEveryOption) {
    const EncodeOptions kOptions[] = {
        {},
        {1, 1, true, false},
        {3, 20, true, true},
        {190, 255, true, false},
        {7, 5, false, false},
        {2, 2, false, true},
    };
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Bytes source = RandomBytes(seed, 200 + seed * 97, seed % 3 ? 256 : 4);
        Bytes target = Mutate(source, seed * 7919);
        for (const EncodeOptions& options : kOptions) {
            DeltaVariant v = EncodeDelta(source, target, options);
            ASSERT_TRUE(VerifyDelta(v, source, target))
                << "seed " << seed << " group " << options.groupSize << " chunk "
                << int(options.chunkSize) << " raw " << options.rawDiffs;
            if (!options.allowReachOutput) {
                EXPECT_EQ(v.header.deltaFlags & kReachOutput, 0);
            }
        }
    }
}

TEST(DeltaEncoder, HandlesEmptyAndTinyFiles) {
    const struct {
        const char* source;
        const char* target;
    } kCases[] = {
        {"", ""},
        {"abc", ""},
        {"", "abc"},
        {"a", "a"},
        {"abcdefgh", "abcdefgh"},
        {"ABCDEFGH", "ABCExyGH"},
        {"0123456789abcdef", "0123456789abcdeX"},
    };
    for (const auto& c : kCases) {
        Bytes source = BytesOf(c.source), target = BytesOf(c.target);
        DeltaVariant v = EncodeDelta(source, target, EncodeOptions{});
        EXPECT_TRUE(VerifyDelta(v, source, target)) << c.source << " -> " << c.target;
        EXPECT_EQ(v.header.sourceSize, source.size());
        EXPECT_EQ(v.header.sourceCrc, CrcOfBuffer(source.data(), source.size(), kCrcStart));
    }
}

TEST(DeltaEncoder, RepeatsInTheTargetReachIntoTheOutput) {
    Bytes unit = RandomBytes(5, 3000);
    Bytes target;
    for (int i = 0; i < 20; ++i) target.insert(target.end(), unit.begin(), unit.end());
    for (bool allow : {true, false}) {
        DeltaVariant v = EncodeDelta(Bytes(), target, EncodeOptions{0, 0, allow, false});
        ASSERT_TRUE(VerifyDelta(v, Bytes(), target));
        EXPECT_EQ((v.header.deltaFlags & kReachOutput) != 0, allow);
        if (allow) {
            EXPECT_LT(DeltaSize(v), 2 * unit.size());
        }
    }
}

// Sizes whose bound needs three and four integer bytes; the copies must carry
// displacements that really use them.
TEST(DeltaEncoder, LargeFilesUseWideIntegers) {
    const size_t kSizes[] = {70000, 16777216 + 4096};
    for (size_t size : kSizes) {
        Bytes source = RandomBytes(static_cast<uint32_t>(size), size);
        Bytes target(source.end() - 3000, source.end());
        target.insert(target.end(), source.begin(), source.begin() + 3000);
        target[1500] ^= 0x55;
        DeltaVariant v = EncodeDelta(source, target, EncodeOptions{});
        EXPECT_TRUE(VerifyDelta(v, source, target)) << size;
        EXPECT_LT(DeltaSize(v), 200u) << size;
    }
}

// Low-entropy data is full of short chance matches; scattered changes and a
// moved block must still cost about what changed, not the file.
TEST(DeltaEncoder, StaysAlignedThroughScatteredChanges) {
    Bytes source = RandomBytes(31, 1 << 18, 14);
    Bytes target = source;
    std::mt19937 rng(32);
    for (int i = 0; i < 100; ++i) target[rng() % target.size()] ^= 0x20;
    target.insert(target.begin() + 100000, source.begin(), source.begin() + 20000);
    DeltaVariant v = EncodeDelta(source, target, EncodeOptions{});
    ASSERT_TRUE(VerifyDelta(v, source, target));
    EXPECT_LT(DeltaSize(v), 2000u);
}

TEST(DeltaEncoder, IsDeterministic) {
    Bytes source = RandomBytes(11, 5000, 16);
    Bytes target = Mutate(source, 12);
    DeltaVariant a = EncodeDelta(source, target, EncodeOptions{});
    DeltaVariant b = EncodeDelta(source, target, EncodeOptions{});
    for (int i = 0; i < kDeltaBlockCount; ++i) EXPECT_EQ(a.blocks[i], b.blocks[i]);
}

TEST(DeltaEncoder, VerifyRejectsAWrongTargetOrSource) {
    Bytes source = RandomBytes(21, 1000);
    Bytes target = Mutate(source, 22);
    DeltaVariant v = EncodeDelta(source, target, EncodeOptions{});
    Bytes other = target;
    other.back() ^= 1;
    EXPECT_FALSE(VerifyDelta(v, source, other));
    other = target;
    other.push_back(0);
    EXPECT_FALSE(VerifyDelta(v, source, other));
    EXPECT_FALSE(VerifyDelta(v, Bytes(source.begin(), source.end() - 1), target));
}

}  // namespace
