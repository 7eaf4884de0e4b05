#include "builder/lib/source_match.h"

#include <algorithm>

namespace {

// A sample is a window of kWindow bytes whose hash has its top kSampleBits
// bits clear: the choice depends on the bytes only, so the same text is
// sampled alike in the old and the new file wherever it has moved.
constexpr size_t kWindow = 32;
constexpr int kSampleBits = 5;  // about one window in 32
// A window found in more candidates than this (licence headers, runs of
// padding) says nothing about where a file came from.
constexpr size_t kMaxIdsPerSample = 8;
constexpr uint64_t kMultiplier = 0x100000001B3ull;

// Calls sample(hash) for every sampled window of data.
template <typename F>
void ForEachSample(const Bytes& data, F sample) {
    if (data.size() < kWindow) return;
    uint64_t power = 1;
    for (size_t i = 0; i < kWindow; ++i) power *= kMultiplier;
    uint64_t h = 0;
    for (size_t i = 0; i < data.size(); ++i) {
        h = h * kMultiplier + data[i] + 1;
        if (i >= kWindow) h -= power * (data[i - kWindow] + 1u);
        if (i + 1 < kWindow) continue;
        // Mix so that the top bits depend on every byte of the window.
        uint64_t m = h ^ (h >> 29);
        m *= 0xBF58476D1CE4E5B9ull;
        m ^= m >> 32;
        if ((m >> (64 - kSampleBits)) == 0) sample(m);
    }
}

}  // namespace

void SourceIndex::Add(uint32_t id, const Bytes& content) {
    idCount_ = std::max(idCount_, id + 1);
    ForEachSample(content, [&](uint64_t hash) {
        std::vector<uint32_t>& ids = ids_[hash];
        if ((ids.empty() || ids.back() != id) && ids.size() <= kMaxIdsPerSample) ids.push_back(id);
    });
}

std::vector<uint32_t> SourceIndex::Hits(const Bytes& content, uint32_t* samples) const {
    std::vector<uint32_t> hits(idCount_, 0);
    *samples = 0;
    ForEachSample(content, [&](uint64_t hash) {
        ++*samples;
        auto found = ids_.find(hash);
        if (found == ids_.end() || found->second.size() > kMaxIdsPerSample) return;
        for (uint32_t id : found->second) ++hits[id];
    });
    return hits;
}
