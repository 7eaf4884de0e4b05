// A set of name keys, kept in the order they came in. A key is found by a
// binary search over their positions sorted by key, so adding one moves a
// list of integers, never strings; the library's tree and string sort stay
// out of the applier.
#pragma once
#include <string>
#include <vector>

class KeySet {
  public:
    // The key's position in the order added, or -1.
    int Find(const std::string& key) const;
    // Adds the key; false when it was there already.
    bool Insert(const std::string& key);
    bool Contains(const std::string& key) const { return Find(key) >= 0; }

  private:
    // The first place in byKey_ whose key does not sort before `key`.
    size_t LowerBound(const std::string& key) const;

    std::vector<std::string> keys_;
    std::vector<int> byKey_;  // positions in keys_, sorted by key
};
