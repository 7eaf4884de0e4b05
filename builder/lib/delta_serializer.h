// Maps the spans of the match finder onto the format's commands: copies of
// exact runs, each followed by its group's diff bytes; everything else goes
// into insert runs whose chunks are either raw or added to the source bytes
// that continue the last alignment.
#pragma once
#include <cstdint>

#include <vector>

#include "builder/lib/match_finder.h"

// Diff length chosen afresh for every group from a look-ahead estimate.
constexpr int kAdaptiveDiffLength = -1;
// Diff length of every copy fitted to the cluster of mismatches behind it
// (mismatches at most clusterGap exact bytes apart); wants group size 1.
constexpr int kClusterDiffLength = -2;

struct SerializeParams {
    uint16_t groupSize = 65535;
    int diffLength = 0;  // 0..255, or kAdaptiveDiffLength
    uint8_t chunkSize = 255;
    uint32_t minCopy = 2;  // shorter exact runs travel inside inserts
    bool rawDiffs = false;
    // kClusterDiffLength only: exact bytes that end a cluster, and the
    // ascending lengths a cluster is rounded up to (0 ends the list).
    uint32_t clusterGap = 1;
    uint8_t clusterSteps[3] = {};
    // Long inserts may be added to the output written this many bytes
    // before them (0: never): sorted tables of small integers, such as an
    // executable's relocations, become runs of small differences. Wants group
    // size 1, a chunk size of at most (stride + 1) / 2 and a text that reaches
    // into the output.
    uint8_t stride = 0;
};

// Fills variant's header (sizes, flags, group and chunk sizes, block
// lengths) and blocks. The source CRC is left to the caller.
void SerializeDelta(const MatchText& text, const std::vector<DeltaSpan>& spans,
                    const SerializeParams& params, DeltaVariant* variant);
