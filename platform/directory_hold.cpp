#include "platform/directory_hold.h"

#include "core/windows_names.h"
#include "platform/file_primitives.h"

namespace {

bool IsLink(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

}  // namespace

DirectoryHold::~DirectoryHold() { Release(); }

void DirectoryHold::Release() {
    for (HANDLE handle : handles_) CloseHandle(handle);
    handles_.clear();
    paths_.clear();
}

// Read access takes part in the sharing check, so the missing delete sharing
// refuses renames; attribute access alone would not. A directory held
// already is not opened again: the paths of one record share most of theirs.
bool DirectoryHold::HoldOne(const std::string& path) {
    for (const std::string& held : paths_) {
        if (held == path) return true;
    }
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    handles_.push_back(handle);
    paths_.push_back(path);
    return true;
}

// Held first, looked at second: what is held can no longer change, so a
// directory that was a link when it was opened is still seen as one. A
// directory that cannot be held ends the walk: the move through it fails on
// its own.
bool DirectoryHold::Hold(const std::string& top, const std::string& relative, bool make) {
    if (!HoldOne(top)) return true;
    const std::vector<std::string> parts = SplitWindowsPath(relative);
    std::string path = top;
    for (size_t n = 0; n + 1 < parts.size(); ++n) {
        path = JoinPath(path, parts[n]);
        if (make) MakeDir(path);
        const bool held = HoldOne(path);
        if (IsLink(path)) return false;
        if (!held) return true;
    }
    return true;
}
