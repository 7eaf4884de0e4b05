#include "builder/lib/tree_plan.h"

#include <algorithm>
#include <set>

#include "builder/lib/patch_build.h"
#include "core/windows_names.h"

namespace {

char Fold(char c) {
    if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
    return c == '\\' ? '/' : c;
}

// Every problem once, in the order found, so one build shows what to fix.
class NameProblems {
  public:
    void Add(const std::string& problem) {
        if (seen_.insert(problem).second) listed_.push_back(problem);
    }
    bool empty() const { return listed_.empty(); }
    std::string Text() const {
        if (listed_.size() == 1) return listed_[0];
        std::string text = std::to_string(listed_.size()) + " names cannot go into a patch:";
        for (size_t i = 0; i < listed_.size() && i < kNameProblemsListed; ++i) {
            text += "\n  " + listed_[i];
        }
        if (listed_.size() > kNameProblemsListed) {
            text += "\n  ... and " + std::to_string(listed_.size() - kNameProblemsListed) + " more";
        }
        return text;
    }

  private:
    std::set<std::string> seen_;
    std::vector<std::string> listed_;
};

// A name that is a file in one index and a directory of a name in another:
// the keys and spellings of both.
struct FileOnDirectory {
    std::string fileKey, file, pathKey, path;
};

std::vector<FileOnDirectory> FilesOnDirectories(const std::map<std::string, std::string>& paths,
                                                const std::map<std::string, std::string>& files);

// Windows key -> original spelling. Every name must be one the applier
// accepts, and no two may be the same file or a file and a directory above
// another on Windows.
void IndexTree(const Tree& tree, std::map<std::string, std::string>* index,
               NameProblems* problems) {
    for (const auto& entry : tree) {
        std::string cp950, error;
        if (!PatchName(entry.first, &cp950, &error)) {
            problems->Add(error);
            continue;
        }
        auto inserted = index->emplace(WindowsNameKey(cp950), entry.first);
        if (!inserted.second) {
            problems->Add("\"" + inserted.first->second + "\" and \"" + entry.first +
                          "\" are one file on Windows, which compares names without regard to "
                          "case");
        }
    }
    for (const FileOnDirectory& m : FilesOnDirectories(*index, *index)) {
        problems->Add("\"" + m.file + "\" is a file, and a directory of \"" + m.path +
                      "\" on Windows");
    }
}

std::vector<FileOnDirectory> FilesOnDirectories(const std::map<std::string, std::string>& paths,
                                                const std::map<std::string, std::string>& files) {
    std::vector<FileOnDirectory> found;
    for (const auto& entry : paths) {
        std::vector<std::string> components = SplitWindowsPath(entry.first);
        std::string prefix;
        for (size_t i = 0; i + 1 < components.size(); ++i) {
            prefix += (i > 0 ? "\\" : "") + components[i];
            auto file = files.find(prefix);
            if (file != files.end()) {
                found.push_back({file->first, file->second, entry.first, entry.second});
            }
        }
    }
    return found;
}

// Old files on the way of a new file (where the new version has a
// directory), and old files below a directory where the new version has a
// file: they are retired before anything new arrives. Kept (keepObsolete),
// they stay in the way: a problem.
void RetireFirst(const std::map<std::string, std::string>& newIndex,
                 const std::map<std::string, std::string>& oldIndex, bool keepObsolete,
                 std::set<std::string>* first, NameProblems* problems) {
    for (const FileOnDirectory& m : FilesOnDirectories(newIndex, oldIndex)) {
        first->insert(m.fileKey);
        if (keepObsolete) {
            problems->Add("\"" + m.file +
                          "\" is a file in an old version and a directory in the new "
                          "one; kept by --keep-obsolete, it leaves no room for \"" +
                          m.path + "\"");
        }
    }
    for (const FileOnDirectory& m : FilesOnDirectories(oldIndex, newIndex)) {
        first->insert(m.pathKey);
        if (keepObsolete) {
            problems->Add("\"" + m.file +
                          "\" is a file in the new version and a directory in an "
                          "old one; kept by --keep-obsolete, \"" +
                          m.path + "\" leaves no room for it");
        }
    }
}

}  // namespace

bool PlanTrees(const std::vector<Tree>& oldTrees, const Tree& newTree, bool keepObsolete,
               TreePlan* plan, std::string* error) {
    *plan = TreePlan{};
    std::map<std::string, std::string> newIndex;
    std::vector<std::map<std::string, std::string>> oldIndex(oldTrees.size());
    NameProblems problems;
    IndexTree(newTree, &newIndex, &problems);
    for (size_t t = 0; t < oldTrees.size(); ++t) IndexTree(oldTrees[t], &oldIndex[t], &problems);
    std::set<std::string> retireFirst;
    for (const auto& old : oldIndex) {
        RetireFirst(newIndex, old, keepObsolete, &retireFirst, &problems);
    }
    if (!problems.empty()) {
        *error = problems.Text();
        return false;
    }
    std::set<std::pair<std::string, std::string>> caseRenames;
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
            if (found->second != entry.second &&
                caseRenames.emplace(found->second, entry.second).second) {
                plan->caseRenames.emplace_back(found->second, entry.second);
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
    for (const auto& entry : removed) {
        if (retireFirst.count(entry.first) != 0) plan->removed.push_back(entry.second);
    }
    plan->retiredFirst = plan->removed.size();
    for (const auto& entry : removed) {
        if (retireFirst.count(entry.first) == 0) plan->removed.push_back(entry.second);
    }
    return true;
}

bool CheckBackupDirectory(const std::string& backup, const std::vector<Tree>& oldTrees,
                          const Tree& newTree, std::string* error) {
    std::string cp950;
    if (!PatchName(backup, &cp950, error)) {
        const std::string prefix = "file name";  // PatchName's wording, said of the backup
        if (error->compare(0, prefix.size(), prefix) == 0) {
            error->replace(0, prefix.size(), "the backup directory");
        }
        return false;
    }
    if (cp950.find('\\') != std::string::npos) {
        *error = "the backup directory \"" + backup + "\" must be one plain directory name";
        return false;
    }
    std::vector<std::string> utf8Paths, cp950Paths;
    for (size_t t = 0; t <= oldTrees.size(); ++t) {
        for (const auto& entry : t < oldTrees.size() ? oldTrees[t] : newTree) {
            std::string path;
            if (!PatchName(entry.first, &path, error)) return false;
            utf8Paths.push_back(entry.first);
            cp950Paths.push_back(path);
        }
    }
    std::string clash;
    NameProblem problem = CheckBackupName(cp950, cp950Paths, &clash);
    if (problem == NameProblem::kNone) return true;
    *error = "the backup directory \"" + backup + "\" " + DescribeNameProblem(problem);
    for (size_t i = 0; i < cp950Paths.size() && !clash.empty(); ++i) {
        if (cp950Paths[i] == clash) {
            *error += ": \"" + utf8Paths[i] + "\"";
            break;
        }
    }
    return false;
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
