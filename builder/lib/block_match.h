// The match search for files too large for a suffix array within the
// builder's memory bound: the source is indexed by blocks at fixed steps, and
// every target position looks its window of one block up, so moved content
// is found wherever it went. A match is extended exactly both ways, then
// continued over scattered differences while most bytes still agree, as the
// suffix-array search does.
#pragma once
#include <cstdint>
#include <vector>

#include "builder/lib/match_finder.h"

// Bytes the block index may take: one 32-bit slot per half of its table.
constexpr uint64_t kBlockIndexBytes = 512ull << 20;
// The shortest block: shorter ones find more, but the index holds one entry
// per block and the step grows with the source to stay within its bytes.
constexpr uint32_t kMinBlockLength = 32;

// The block length for a source of this size (a power of two).
uint32_t BlockLengthFor(uint64_t sourceSize);

// The target is scanned in pieces of this many bytes, on up to `threads`
// threads; the pieces are fixed, so the spans do not depend on the count.
constexpr uint64_t kScanPiece = 64ull << 20;

// Spans in output order, covering the target exactly; aligned spans read the
// source only (text.reachOutput is not used). text.onScan hears, from any
// thread, each further kScanReportStep bytes scanned.
std::vector<DeltaSpan> FindBlockMatches(const MatchText& text, uint32_t blockLength,
                                        unsigned threads, uint64_t pieceLength = kScanPiece);
