// Decides what a patch carries, from the old trees (oldest first) and the new
// one: changed files with a chain of distinct older versions, new files and
// obsolete files. Pure: trees are already in memory.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "builder/lib/payload_writer.h"

struct TreeFile {
    Bytes content;
    uint32_t dosTime = 0;  // local DOS date/time of the file, 0 when unknown
};

// Relative names with '/' separators, as UTF-8 text.
using Tree = std::map<std::string, TreeFile>;

struct PlannedChange {
    std::string name;                    // spelling of the new tree
    std::vector<const Bytes*> versions;  // distinct older contents, oldest first
    const TreeFile* newer = nullptr;
};

struct PlannedNewFile {
    std::string name;
    const TreeFile* file = nullptr;
};

struct TreePlan {
    std::vector<PlannedChange> changed;
    std::vector<PlannedNewFile> added;
    std::vector<std::string> removed;  // spelling of the newest old tree holding it
    // The first retiredFirst of removed make way for a directory of their
    // name (a file that becomes a directory) or for a file where they had a
    // directory (the reverse): the patch retires them before the changed and
    // new files, the others after.
    size_t retiredFirst = 0;
    // Names whose spelling differs only in case between an old tree and the
    // new one: (old spelling, new spelling), once each.
    std::vector<std::pair<std::string, std::string>> caseRenames;
};

// At most this many name problems are listed in one error; the rest are
// counted.
constexpr size_t kNameProblemsListed = 20;

// Names are matched across versions as Windows compares them (case folded for
// every code page 950 letter), so a name that changes only in case is the same
// file, carried under the new tree's spelling. False with *error naming the
// file when a name is one the applier refuses, or when one tree holds two names
// Windows could not tell apart (or a file where another needs a directory), or
// when keepObsolete keeps an old file or directory where the new version has
// the other.
// Every such problem of every tree is found in one run; the error lists them
// (up to kNameProblemsListed) one per line.
bool PlanTrees(const std::vector<Tree>& oldTrees, const Tree& newTree, bool keepObsolete,
               TreePlan* plan, std::string* error);

// The backup directory name (UTF-8): one plain name the applier accepts, none
// of its work names, and no file of any tree on, above or below it. False with
// *error naming the clash.
bool CheckBackupDirectory(const std::string& backup, const std::vector<Tree>& oldTrees,
                          const Tree& newTree, std::string* error);

// Case-insensitive glob: '*' any run of characters (separators included),
// '?' one character. Names and patterns use '/' or '\' alike.
bool MatchesPattern(const std::string& pattern, const std::string& name);
