#include "engine/key_set.h"

size_t KeySet::LowerBound(const std::string& key) const {
    size_t low = 0, high = byKey_.size();
    while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (keys_[byKey_[middle]] < key) {
            low = middle + 1;
        } else {
            high = middle;
        }
    }
    return low;
}

int KeySet::Find(const std::string& key) const {
    const size_t at = LowerBound(key);
    return at < byKey_.size() && keys_[byKey_[at]] == key ? byKey_[at] : -1;
}

bool KeySet::Insert(const std::string& key) {
    const size_t at = LowerBound(key);
    if (at < byKey_.size() && keys_[byKey_[at]] == key) return false;
    const int position = static_cast<int>(keys_.size());
    byKey_.insert(byKey_.begin() + at, position);
    keys_.push_back(key);
    return true;
}
