// Directory chains below a path and the numbered staging directory.
#include "core/result_codes.h"
#include "core/cp950.h"
#include "core/work_names.h"
#include "platform/file_primitives.h"

namespace {

// Staging numbers are tried up to this bound, so a directory full of leftovers
// ends in a failure instead of an endless search.
constexpr int kStagingNumberLimit = 10000;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string StagingCandidate(const std::string& targetDirectory, int number) {
    char name[24];  // room for any int
    wsprintfA(name, kStagingFormat, number);
    return JoinPath(targetDirectory, name);
}

}  // namespace

// Scans by character: 0x5C is also the trail byte of many Chinese characters,
// and such a byte must not split a directory name.
void MakeParentDirectories(const std::string& filePath) {
    std::string accumulated;
    for (size_t i = 0; i < filePath.size(); ++i) {
        char c = filePath[i];
        if (IsCp950LeadByte(static_cast<uint8_t>(c)) && i + 1 < filePath.size()) {
            accumulated += c;
            accumulated += filePath[++i];
        } else if (IsSeparator(c)) {
            // Existing directories and drive names fail here harmlessly.
            if (!accumulated.empty()) MakeDir(accumulated);
            accumulated += '/';
        } else {
            accumulated += c;
        }
    }
}

// Any name in use is passed over, a file or a directory with whatever
// attributes: a leftover of another kind never makes every later run fail.
ResultCode CreateStagingDirectory(const std::string& targetDirectory, std::string* stagingPath) {
    MakeParentDirectories(JoinPath(targetDirectory, "x"));
    int number = 0;
    while (number < kStagingNumberLimit && PathExists(StagingCandidate(targetDirectory, number))) {
        ++number;
    }
    *stagingPath = StagingCandidate(targetDirectory, number);
    if (number >= kStagingNumberLimit) return kStagingDirFailed;
    return MakeDir(*stagingPath) ? kOk : kStagingDirFailed;
}

std::vector<std::string> ExistingStagingDirectories(const std::string& targetDirectory) {
    std::vector<std::string> found;
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(JoinPath(targetDirectory, kStagingPattern).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) return found;
    do {
        const std::string name = entry.cFileName;
        bool numbered = name.size() > 9;
        for (size_t i = 5; numbered && i < name.size() - 4; ++i) {
            numbered = name[i] >= '0' && name[i] <= '9';
        }
        // A link of that name leads out of the target: never a staging directory of ours.
        if (numbered && (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            found.push_back(JoinPath(targetDirectory, name));
        }
    } while (FindNextFileA(search, &entry));
    FindClose(search);
    return found;
}

bool ListTree(const std::string& root, std::vector<std::string>* entries) {
    std::vector<std::string> pending = {""};
    while (!pending.empty()) {
        const std::string relative = pending.back();
        pending.pop_back();
        WIN32_FIND_DATAA entry;
        HANDLE search = FindFirstFileA(JoinPath(JoinPath(root, relative), "*").c_str(), &entry);
        if (search == INVALID_HANDLE_VALUE) return false;
        do {
            const std::string name = entry.cFileName;
            if (name == "." || name == "..") continue;
            // What lies behind a link is not below root: the listing refuses it.
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                FindClose(search);
                return false;
            }
            if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                entries->push_back(relative + name + "\\");
                pending.push_back(relative + name + "\\");
            } else {
                entries->push_back(relative + name);
            }
        } while (FindNextFileA(search, &entry));
        FindClose(search);
    }
    return true;
}

bool RemoveEmptyTree(const std::string& root) {
    std::vector<std::string> entries;
    if (!ListTree(root, &entries)) return false;
    // Deepest first: the listing names a directory before what it holds. A
    // file fails its own removal and keeps its directories.
    for (auto entry = entries.rbegin(); entry != entries.rend(); ++entry) {
        RemoveDir(JoinPath(root, entry->substr(0, entry->size() - 1)));
    }
    return RemoveDir(root);
}
