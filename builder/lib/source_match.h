// Finds the old files a new file's content most resembles, wherever they sit
// in the tree: content-defined samples of every candidate are indexed once,
// and a new file counts how many of its own samples each candidate holds.
// Cheap enough to run for every file; the encoder then decides by size.
#pragma once
#include <cstdint>
#include <vector>

#include "builder/lib/payload_writer.h"

class SourceIndex {
  public:
    // Indexes every candidate (its id is its position in `contents`),
    // sampling them on up to `jobs` threads; the index is the same for any
    // count.
    void Build(const std::vector<const Bytes*>& contents, unsigned jobs);

    // Samples of content found in each candidate, indexed by id; *samples is
    // how many content has in all.
    std::vector<uint32_t> Hits(const Bytes& content, uint32_t* samples) const;

  private:
    struct Entry {
        uint64_t hash;
        uint32_t id;
    };
    // Entries sorted by hash, then id, kept apart by the hash's top bits so
    // that each part is sorted on its own thread.
    std::vector<std::vector<Entry>> parts_;
    uint32_t idCount_ = 0;
};
