// Finds the old files a new file's content most resembles, wherever they sit
// in the tree: content-defined samples of every candidate are indexed once,
// and a new file counts how many of its own samples each candidate holds.
// Cheap enough to run for every file; the encoder then decides by size.
#pragma once
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "builder/lib/payload_writer.h"

class SourceIndex {
  public:
    // Indexes content as candidate id (ids are the caller's, small and dense).
    void Add(uint32_t id, const Bytes& content);

    // Samples of content found in each candidate, indexed by id (ids never
    // added count 0); *samples is how many content has in all.
    std::vector<uint32_t> Hits(const Bytes& content, uint32_t* samples) const;

  private:
    std::unordered_map<uint64_t, std::vector<uint32_t>> ids_;
    uint32_t idCount_ = 0;
};
