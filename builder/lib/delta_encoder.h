// Chooses, per file, how a delta is laid out: with or without reaching into
// the output, which diff lengths, group and chunk sizes. Every candidate is
// compressed and the smallest one wins; the winner is decoded again with the
// shared decoder before it is returned.
#pragma once
#include <cstdint>
#include <functional>
#include <string>

#include "builder/lib/payload_writer.h"

// The largest source or target the encoder takes: sizes and positions are
// 32-bit in the format.
constexpr uint64_t kMaxDeltaFileSize = 0xFFFFFFFFu;

// Source and target together up to this size are searched with a suffix
// array: it takes four bytes per byte of the text (of source and target when
// the step reaches into its output), which keeps the search within 1 GiB.
// Larger pairs are searched by blocks (block_match.h) in bounded memory.
constexpr uint64_t kSuffixSearchBytes = 192ull << 20;

// Candidates are compared at a quicker deflate level than the final payload's;
// the ranking rarely differs and the search stays fast on large files.
constexpr int kTrialDeflateLevel = 6;

// Knobs that pin a block shape (tests ask for them); the builder leaves them
// at their defaults.
struct EncodeOptions {
    uint16_t groupSize = 0;  // 0 = each layout's own
    uint8_t chunkSize = 0;   // 0 = 255
    bool allowReachOutput = true;
    bool rawDiffs = false;
    // What the payload holds before this delta: candidates are ranked by what
    // they add to a deflate stream whose window already holds its last
    // 32 KiB, so a delta shaped like its neighbour's costs next to nothing.
    const Bytes* context = nullptr;
    // Told now and then how much of this delta's search is done, from 0 to 1:
    // an estimate from the suffix sort, the scan and the layout trials of
    // the first pass; may be null.
    const std::function<void(double share)>* onShare = nullptr;
    // Layouts tried at once; the result is the same for any count.
    unsigned threads = 1;
    // Tests lower these to reach the block search with small files.
    uint64_t suffixSearchLimit = kSuffixSearchBytes;
    uint32_t blockLength = 0;  // 0 = chosen by the source's size
    uint64_t scanPiece = 0;    // 0 = kScanPiece
};

// True with a verified variant, or false with a text saying why. A candidate that
// fails its decode check is dropped; the plain insert-only layout always
// remains, so a result is found for every input within the size limit.
bool EncodeSmallestDelta(const Bytes& source, const Bytes& target, const EncodeOptions& options,
                         DeltaVariant* variant, std::string* error);

// EncodeSmallestDelta for tests, which know their files fit (beyond
// kMaxDeltaFileSize the variant has no blocks and never rebuilds the target).
// Unless options forbid it, reaching into the output is tried on every
// target, so small test files that repeat themselves are rebuilt from the
// output as well; the builder tries it only where it is likely to pay.
DeltaVariant EncodeDelta(const Bytes& source, const Bytes& target, const EncodeOptions& options);

// Bytes that data adds to a raw deflate stream (quick trial level) that has
// just compressed context (null: a fresh stream).
size_t DeflatedSizeAfter(const Bytes* context, const Bytes& data);

// The least a raw deflate of n bytes can take, context or not: a length and
// a distance code of at least one bit each for every 258 bytes.
constexpr size_t DeflatedSizeLowerBound(uint64_t n) { return static_cast<size_t>(n / 1032); }

// The variant's blocks in that measure: what the encoder ranks candidates by,
// and what the builder compares sources with.
size_t CompressedDeltaSize(const DeltaVariant& variant, const Bytes* context = nullptr);

// Decodes variant against source with the shared decoder: true when the
// header's block lengths are the blocks' own (what was checked is what is
// written) and the output equals target byte for byte.
bool DeltaReproduces(const DeltaVariant& variant, const Bytes& source, const Bytes& target);
