#include "builder/lib/tree_plan.h"

#include <algorithm>

namespace {

char Fold(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return c == '\\' ? '/' : c;
}

std::string FoldName(const std::string& name) {
    std::string folded = name;
    std::transform(folded.begin(), folded.end(), folded.begin(), Fold);
    return folded;
}

// Folded name -> original spelling, refusing names Windows would merge.
bool IndexTree(const Tree& tree, std::map<std::string, std::string>* index, std::string* error) {
    for (const auto& entry : tree) {
        auto inserted = index->emplace(FoldName(entry.first), entry.first);
        if (!inserted.second) {
            *error = "\"" + inserted.first->second + "\" and \"" + entry.first +
                     "\" differ only in case and would be one file on Windows";
            return false;
        }
    }
    return true;
}

}  // namespace

bool PlanTrees(const std::vector<Tree>& oldTrees, const Tree& newTree, bool keepObsolete,
               TreePlan* plan, std::string* error) {
    *plan = TreePlan{};
    std::map<std::string, std::string> newIndex;
    std::vector<std::map<std::string, std::string>> oldIndex(oldTrees.size());
    if (!IndexTree(newTree, &newIndex, error)) return false;
    for (size_t t = 0; t < oldTrees.size(); ++t) {
        if (!IndexTree(oldTrees[t], &oldIndex[t], error)) return false;
    }
    for (const auto& entry : newIndex) {
        const TreeFile& newer = newTree.at(entry.second);
        std::vector<const Bytes*> versions;
        bool missingSomewhere = false;
        for (size_t t = 0; t < oldTrees.size(); ++t) {
            auto found = oldIndex[t].find(entry.first);
            if (found == oldIndex[t].end()) {
                missingSomewhere = true;
                continue;
            }
            const Bytes& content = oldTrees[t].at(found->second).content;
            if (content == newer.content) continue;
            bool seen = std::any_of(versions.begin(), versions.end(),
                                    [&](const Bytes* v) { return *v == content; });
            if (!seen) versions.push_back(&content);
        }
        // A file some old version lacks must be carried whole: a changed-file
        // record cannot create a file from nothing.
        if (missingSomewhere) {
            plan->added.push_back(PlannedNewFile{entry.second, &newer});
        } else if (!versions.empty()) {
            plan->changed.push_back(PlannedChange{entry.second, versions, &newer});
        }
    }
    if (keepObsolete) return true;
    std::map<std::string, std::string> removed;
    for (size_t t = 0; t < oldTrees.size(); ++t) {
        for (const auto& entry : oldIndex[t]) {
            if (newIndex.count(entry.first) == 0) removed[entry.first] = entry.second;
        }
    }
    for (const auto& entry : removed) plan->removed.push_back(entry.second);
    return true;
}

bool MatchesPattern(const std::string& pattern, const std::string& name) {
    // Iterative glob with one backtrack point for the last '*'.
    size_t p = 0, n = 0, starP = std::string::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || Fold(pattern[p]) == Fold(name[n]))) {
            ++p;
            ++n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') ++p;
    return p == pattern.size();
}
