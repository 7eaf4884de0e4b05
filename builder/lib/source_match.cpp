#include "builder/lib/source_match.h"

#include <algorithm>
#include <functional>

#include "builder/lib/parallel.h"

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
// The index is split by the bits below the sampling bits (those are clear in
// every sample's hash).
constexpr int kPartBits = 8;
constexpr size_t kParts = size_t{1} << kPartBits;

size_t PartOf(uint64_t hash) { return static_cast<size_t>(hash >> (64 - kSampleBits - kPartBits)); }

// Calls sample(hash) for every sampled window of data that ends in
// [from, to): pieces of one file can be sampled apart, alike.
template <typename F>
void ForEachSample(const Bytes& data, size_t from, size_t to, F sample) {
    uint64_t power = 1;
    for (size_t i = 0; i < kWindow; ++i) power *= kMultiplier;
    const size_t start = from < kWindow - 1 ? 0 : from - (kWindow - 1);
    uint64_t h = 0;
    for (size_t i = start; i < to; ++i) {
        h = h * kMultiplier + data[i] + 1;
        if (i >= start + kWindow) h -= power * (data[i - kWindow] + 1u);
        if (i + 1 < start + kWindow) continue;
        // Mix so that the top bits depend on every byte of the window.
        uint64_t m = h ^ (h >> 29);
        m *= 0xBF58476D1CE4E5B9ull;
        m ^= m >> 32;
        if ((m >> (64 - kSampleBits)) == 0) sample(m);
    }
}

// Candidates are sampled in pieces of this size, so that one large file does
// not keep the other threads waiting.
constexpr size_t kSamplePiece = 1u << 20;

struct SamplePiece {
    uint32_t id;
    size_t from, to;
    std::vector<uint64_t> hashes;  // sorted, distinct
};

}  // namespace

void SourceIndex::Build(const std::vector<const Bytes*>& contents, unsigned jobs) {
    idCount_ = static_cast<uint32_t>(contents.size());
    std::vector<SamplePiece> pieces;
    for (uint32_t id = 0; id < idCount_; ++id) {
        const size_t size = contents[id]->size();
        for (size_t from = 0; from < size; from += kSamplePiece) {
            pieces.push_back(SamplePiece{id, from, std::min(size, from + kSamplePiece), {}});
        }
    }
    const std::function<void(size_t)> sample = [&](size_t k) {
        SamplePiece& piece = pieces[k];
        ForEachSample(*contents[piece.id], piece.from, piece.to,
                      [&](uint64_t hash) { piece.hashes.push_back(hash); });
        std::sort(piece.hashes.begin(), piece.hashes.end());
        piece.hashes.erase(std::unique(piece.hashes.begin(), piece.hashes.end()),
                           piece.hashes.end());
    };
    ParallelFor(pieces.size(), jobs, sample, nullptr);
    parts_.assign(kParts, {});
    const std::function<void(size_t)> gather = [&](size_t part) {
        std::vector<Entry>& entries = parts_[part];
        for (const SamplePiece& piece : pieces) {
            const std::vector<uint64_t>& h = piece.hashes;
            auto from = std::lower_bound(h.begin(), h.end(), part,
                                         [](uint64_t hash, size_t p) { return PartOf(hash) < p; });
            for (auto it = from; it != h.end() && PartOf(*it) == part; ++it) {
                entries.push_back(Entry{*it, piece.id});
            }
        }
        std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
            return a.hash != b.hash ? a.hash < b.hash : a.id < b.id;
        });
        // One entry per hash and candidate (a file's pieces may share a
        // window); the hashes too many candidates share are dropped.
        entries.erase(std::unique(entries.begin(), entries.end(),
                                  [](const Entry& a, const Entry& b) {
                                      return a.hash == b.hash && a.id == b.id;
                                  }),
                      entries.end());
        size_t kept = 0;
        for (size_t i = 0; i < entries.size();) {
            size_t end = i;
            while (end < entries.size() && entries[end].hash == entries[i].hash) ++end;
            if (end - i <= kMaxIdsPerSample) {
                for (size_t k = i; k < end; ++k) entries[kept++] = entries[k];
            }
            i = end;
        }
        entries.resize(kept);
        entries.shrink_to_fit();
    };
    ParallelFor(kParts, jobs, gather, nullptr);
}

std::vector<uint32_t> SourceIndex::Hits(const Bytes& content, uint32_t* samples) const {
    std::vector<uint32_t> hits(idCount_, 0);
    *samples = 0;
    if (parts_.empty()) return hits;
    ForEachSample(content, 0, content.size(), [&](uint64_t hash) {
        ++*samples;
        const std::vector<Entry>& entries = parts_[PartOf(hash)];
        auto it = std::lower_bound(entries.begin(), entries.end(), hash,
                                   [](const Entry& e, uint64_t h) { return e.hash < h; });
        for (; it != entries.end() && it->hash == hash; ++it) ++hits[it->id];
    });
    return hits;
}
