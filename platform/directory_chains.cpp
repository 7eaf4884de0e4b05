// Directory chains below a path and the numbered staging directory.
#include "core/result_codes.h"
#include "core/cp950.h"
#include "platform/file_primitives.h"

namespace {

// Staging numbers are tried up to this bound, so a directory full of leftovers
// ends in a failure instead of an endless search.
constexpr int kStagingNumberLimit = 10000;

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

std::string StagingCandidate(const std::string& targetDirectory, int number) {
    return JoinPath(targetDirectory, "PATCH" + std::to_string(number) + ".TMP");
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

void RemoveEmptyParents(const std::string& filePath) {
    std::string path = filePath;
    for (;;) {
        size_t last = Cp950LastSeparator(path);
        if (last == std::string::npos) return;
        path.resize(last);
        for (size_t i = 0; i < path.size(); ++i) {
            if (IsCp950LeadByte(static_cast<uint8_t>(path[i]))) {
                ++i;
            } else if (path[i] == '/') {
                path[i] = '\\';
            }
        }
        // Directories that still hold something stay; the attempt just fails.
        if (!path.empty()) RemoveDir(path);
    }
}

ResultCode CreateStagingDirectory(const std::string& targetDirectory, std::string* stagingPath) {
    MakeParentDirectories(JoinPath(targetDirectory, "x"));
    int number = 0;
    while (number < kStagingNumberLimit && IsDirectory(StagingCandidate(targetDirectory, number))) {
        ++number;
    }
    *stagingPath = StagingCandidate(targetDirectory, number);
    if (number >= kStagingNumberLimit) return kStagingDirFailed;
    return MakeDir(*stagingPath) ? kOk : kStagingDirFailed;
}
