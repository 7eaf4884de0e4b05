// Finds where a target can be taken from its source: approximate matches
// (aligned spans whose bytes mostly equal the source at a fixed offset) and
// the literal stretches between them.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "builder/lib/payload_writer.h"

struct DeltaSpan {
    uint32_t outPos;
    uint32_t length;
    bool aligned;
    // Aligned spans: position in the source, or, at or past the source size,
    // in the output already written (reaching into the output).
    uint32_t srcPos;
};

// The text a delta step may read from: the source, followed by the target
// when the step may reach into its own output.
struct MatchText {
    const Bytes* source;
    const Bytes* target;
    bool reachOutput;
    // Told every kScanReportStep target bytes how far a scan is, for the
    // progress of long builds; may be null.
    const std::function<void(uint32_t scanned, uint32_t size)>* onScan = nullptr;
};

constexpr uint32_t kScanReportStep = 1u << 20;

// Spans in output order, covering the target exactly. Aligned spans read only
// bytes that exist when the decoder reaches them: inside the source, or in
// output written before the span starts.
std::vector<DeltaSpan> FindMatches(const MatchText& text);

// A longer exact match ends an alignment only when it beats the current one
// by more than this many bytes; smaller gains are not worth a new copy
// position. Which gain suits best depends on the file.
constexpr int32_t kDefaultMinGain = 8;

// FindMatches for each gain in turn over one suffix array, handing each
// result to `each` until it returns false.
void FindMatchesEach(const MatchText& text, const std::vector<int32_t>& minGains,
                     const std::function<bool(std::vector<DeltaSpan>)>& each);

// How many bytes starting at srcPos an aligned span starting at outPos may read.
uint32_t ReadableLength(const MatchText& text, uint32_t srcPos, uint32_t outPos);

// How many leading bytes of a and b, up to limit, are equal; compares a word
// at a time, as long matches of large files are most of their search.
uint64_t CommonPrefix(const uint8_t* a, const uint8_t* b, uint64_t limit);
