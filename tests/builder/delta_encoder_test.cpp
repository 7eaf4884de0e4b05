#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <string>

#include "builder/lib/delta_encoder.h"
#include "builder/lib/delta_serializer.h"
#include "builder/lib/parallel.h"
#include "builder/lib/patch_check.h"
#include "builder/lib/suffix_array.h"
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
    // Sorted tables of 16-bit entries (relocation-like), one new, one with
    // every entry moved (one byte in two differs from the source): both
    // worth adding to the output two bytes back.
    std::mt19937 rng(9);
    Bytes table, moved;
    for (uint32_t entry = 0x3000; table.size() < 6000; entry += 1 + rng() % 40) {
        table.insert(table.end(), {static_cast<uint8_t>(entry), static_cast<uint8_t>(entry >> 8)});
        moved.insert(moved.end(),
                     {static_cast<uint8_t>(entry + 3), static_cast<uint8_t>(entry >> 8)});
    }
    Bytes tabledSource = random, tabled = random;
    tabledSource.insert(tabledSource.begin() + 1, table.begin(), table.begin() + 3000);
    tabled.insert(tabled.begin() + 25000, table.begin() + 3000, table.end());
    tabled.insert(tabled.begin() + 1, moved.begin(), moved.begin() + 3000);
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
            {"sorted tables, new and moved", tabledSource, tabled},
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
        {1, kClusterDiffLength, 1, 1, false, 1, {3, 6, 255}, 2},
        {7, kAdaptiveDiffLength, 2, 2, false, 1, {}, 4},
        {65535, 3, 20, 1, true, 1, {}, 2},
        {65535, 2, 20, 6, false},
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

// The encoder compresses the whole-target layout only when a candidate is
// not below this bound, so no deflate may write less: a run of one byte, a
// short pattern (also with itself as the window before it) and noise.
TEST(DeltaEncoder, NoDeflateWritesLessThanTheLowerBound) {
    Bytes pattern(1 << 20);
    for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = static_cast<uint8_t>(i % 3);
    const Bytes inputs[] = {Bytes(1 << 20, 0), pattern, RandomBytes(5, 1 << 16)};
    for (const Bytes& data : inputs) {
        EXPECT_LE(DeflatedSizeLowerBound(data.size()), DeflatedSizeAfter(nullptr, data));
        EXPECT_LE(DeflatedSizeLowerBound(data.size()), DeflatedSizeAfter(&data, data));
    }
}

Bytes Joined(const Bytes& a, const Bytes& b) {
    Bytes out = a;
    out.insert(out.end(), b.begin(), b.end());
    return out;
}

// Past the suffix search's size (lowered here), files are searched by blocks
// of the source: every pair still rebuilds, never by reaching into the
// output, and content that moved is found wherever it went.
TEST(DeltaEncoder, FilesPastTheSuffixSearchAreSearchedByBlocks) {
    EncodeOptions byBlocks;
    byBlocks.suffixSearchLimit = 0;
    byBlocks.blockLength = 32;
    for (const Pair& p : Pairs()) {
        DeltaVariant v;
        std::string error;
        ASSERT_TRUE(EncodeSmallestDelta(p.source, p.target, byBlocks, &v, &error))
            << p.name << ": " << error;
        EXPECT_TRUE(DeltaReproduces(v, p.source, p.target)) << p.name;
        EXPECT_FALSE(v.header.deltaFlags & kReachOutput) << p.name;
    }
    const Bytes a = RandomBytes(11, 20000), b = RandomBytes(12, 20000), c = RandomBytes(13, 20000);
    Bytes edited = b;
    for (size_t i = 50; i < edited.size(); i += 400) edited[i] ^= 0x21;
    const std::tuple<const char*, Bytes> kMoved[] = {
        {"blocks reordered", Joined(Joined(c, a), b)},
        {"a block moved and edited", Joined(Joined(a, c), edited)},
        {"a block copied twice", Joined(Joined(b, a), Joined(b, c))}};
    const Bytes source = Joined(Joined(a, b), c);
    // Scanned in pieces (moves cross their cuts) on one thread or several,
    // the delta is the same and still small.
    EncodeOptions inPieces = byBlocks;
    inPieces.scanPiece = 7000;
    for (const auto& [name, target] : kMoved) {
        DeltaVariant v, pieces;
        std::string error;
        ASSERT_TRUE(EncodeSmallestDelta(source, target, byBlocks, &v, &error)) << name;
        EXPECT_LT(CompressedDeltaSize(v), target.size() / 20) << name;
        for (unsigned threads : {1u, 3u}) {
            inPieces.threads = threads;
            ASSERT_TRUE(EncodeSmallestDelta(source, target, inPieces, &v, &error)) << name;
            if (threads == 1) pieces = v;
            EXPECT_TRUE(v.blocks[kCommandBlock] == pieces.blocks[kCommandBlock] &&
                        v.blocks[kDiffBlock] == pieces.blocks[kDiffBlock])
                << name;
            EXPECT_LT(CompressedDeltaSize(v), target.size() / 20) << name;
        }
    }
}

Bytes Edited(Bytes b, uint32_t seed) {
    for (size_t i = seed % 500; i < b.size(); i += 3000) b[i] ^= 0x41;
    return b;
}

// A file's delta may read another old file when its content moved there
// (renamed bundles): only old files the patch itself checks or retires, only
// with one old version, and only where it pays. Every record must rebuild
// from the old tree the way the applier reads it, and builds are repeatable.
TEST(DeltaEncoder, SourcesAreChosenAcrossFilesWhereThePatchAllows) {
    const Bytes r1 = RandomBytes(11, 20000), r2 = RandomBytes(12, 20000),
                r3 = RandomBytes(13, 20000), r4 = RandomBytes(14, 20000);
    auto tree = [](std::vector<std::pair<std::string, Bytes>> files) {
        Tree t;
        for (auto& f : files) t[f.first] = TreeFile{f.second, 0};
        return t;
    };
    // what, olds, newer, optional, reads: file -> where its record reads, a name or "" for a
    // whole new file
    // clang-format off
    const std::tuple<const char*, std::vector<Tree>, Tree, const char*,
                     std::map<std::string, std::string>> kCases[] = {
        {"renamed chunk reads the retired file", {tree({{"dep-a.js", r1}, {"main.js", r2}})},
         tree({{"dep-b.js", Edited(r1, 1)}, {"main.js", Edited(r2, 2)}}), "",
         {{"dep-b.js", "dep-a.js"}, {"main.js", "main.js"}}},
        {"content moved between two changed files", {tree({{"x", r1}, {"y", r2}})},
         tree({{"x", Edited(r2, 3)}, {"y", r3}}), "", {{"x", "y"}, {"y", "y"}}},
        {"an optional file is no source for another", {tree({{"x", r1}, {"y", r2}})},
         tree({{"x", Edited(r2, 3)}, {"y", r3}}), "y", {{"x", "x"}, {"y", "y"}}},
        {"a sliver of a retired file does not pay", {tree({{"gone", r1}})},
         tree({{"c", Joined(r4, Bytes(r1.begin(), r1.begin() + 2000))}}), "", {{"c", ""}}},
        {"several old versions keep their own names",
         {tree({{"a", r1}, {"gone", r3}}), tree({{"a", r2}, {"gone", r3}})},
         tree({{"a", r4}, {"b", Edited(r3, 4)}}), "", {{"a", "a"}, {"b", ""}}},
    };
    // clang-format on
    for (const auto& [what, olds, newer, optional, reads] : kCases) {
        PatchSettings settings;
        if (*optional) settings.optionalPatterns = {optional};
        Bytes patch, again;
        PatchContents contents;
        std::string error;
        ASSERT_TRUE(BuildAndRead(olds, newer, settings, &contents, &error, &again));
        ASSERT_TRUE(BuildAndRead(olds, newer, settings, &contents, &error, &patch))
            << what << ": " << error;
        EXPECT_EQ(patch, again) << what;
        std::map<std::string, std::string> source;
        for (const CurrentRecord& r : contents.records) {
            if (r.kind == RecordKind::kFile) source[r.fileName] = r.variants[0].sourceName;
            if (r.kind == RecordKind::kNewFile) source[r.fileName] = "";
        }
        EXPECT_EQ(source, reads) << what;
        for (const Tree& old : olds) {
            auto verdicts = CheckAgainstTarget(contents, [&](const std::string& name, Bytes* out) {
                auto found = old.find(name);
                if (found == old.end()) return false;
                *out = found->second.content;
                return true;
            });
            EXPECT_TRUE(WouldApply(verdicts)) << what;
            for (const FileVerdict& v : verdicts) {
                EXPECT_TRUE(v.verdict != Verdict::kRebuildable || !v.fromBackup) << what;
            }
        }
    }
}

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

// The builder's check of a written chain: from every version the last step
// must give the new content, and nothing else passes.
TEST(DeltaEncoder, AChainRebuildsOnlyTheNewContent) {
    const Bytes v1 = RandomBytes(21, 30000), v2 = Edited(v1, 7), v3 = Edited(v2, 9);
    PatchContents contents;
    std::string error;
    ASSERT_TRUE(BuildAndRead({{{"f", TreeFile{v1, 0}}}, {{"f", TreeFile{v2, 0}}}},
                             {{"f", TreeFile{v3, 0}}}, PatchSettings{}, &contents, &error))
        << error;
    const CurrentRecord& r = contents.records[0];
    ASSERT_EQ(r.kind, RecordKind::kFile);
    Bytes longer = v3, changed = v3;
    longer.push_back(0);
    changed[changed.size() / 2] ^= 1;
    const std::tuple<int, const Bytes*, const Bytes*, bool> kCases[] = {
        {0, &v1, &v3, true},      {1, &v2, &v3, true},  {0, &v1, &changed, false},
        {1, &v2, &longer, false}, {1, &v1, &v3, false}, {2, &v2, &v3, false}};
    for (const auto& [first, source, expected, rebuilds] : kCases) {
        EXPECT_EQ(ChainRebuilds(contents, r, first, *source, *expected, &error), rebuilds)
            << first << " " << error;
    }
}

// Every index is worked on exactly once whatever the thread count, also with
// more threads than work or none at all, and the waiting thread ticks before
// and after.
TEST(ParallelFor, EveryIndexOnceOnAnyThreadCount) {
    const std::tuple<size_t, unsigned> kCases[] = {{0, 4}, {1, 1},   {1, 8},
                                                   {5, 0}, {100, 3}, {1000, 16}};
    for (const auto& [count, jobs] : kCases) {
        std::vector<std::atomic<int>> seen(count);
        const std::function<void(size_t)> work = [&](size_t i) { ++seen[i]; };
        int ticks = 0;
        const std::function<void()> tick = [&] { ++ticks; };
        ParallelFor(count, jobs, work, &tick);
        for (size_t i = 0; i < count; ++i) EXPECT_EQ(seen[i].load(), 1) << count << " " << i;
        EXPECT_GE(ticks, 2) << count;
    }
    EXPECT_GE(AvailableCores(), 1u);
}
