#include "platform/path_probe.h"

namespace {

void AppendHex(uint32_t value, std::string* text) {
    for (int shift = 28; shift >= 0; shift -= 4)
        text->push_back("0123456789ABCDEF"[(value >> shift) & 0xF]);
}

}  // namespace

PathProbe ProbePath(const std::string& path) {
    PathProbe probe;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return probe;
    probe.exists = true;
    probe.isReparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    // No access rights are asked for, so files held open by others answer too;
    // backup semantics open directories.
    HANDLE handle = CreateFileA(
        path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return probe;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileInformationByHandle(handle, &info)) {
        if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) probe.isReparsePoint = true;
        AppendHex(info.dwVolumeSerialNumber, &probe.identity);
        AppendHex(info.nFileIndexHigh, &probe.identity);
        AppendHex(info.nFileIndexLow, &probe.identity);
    }
    CloseHandle(handle);
    return probe;
}

std::string FullPathOf(const std::string& path) {
    char buffer[MAX_PATH * 4];
    DWORD length = GetFullPathNameA(path.c_str(), sizeof buffer, buffer, nullptr);
    if (length == 0 || length >= sizeof buffer) return path;
    return std::string(buffer, length);
}

MoveFailure ClassifyMoveFailure(DWORD error) {
    if (error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION)
        return MoveFailure::kInUse;
    if (error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL) return MoveFailure::kDiskFull;
    return MoveFailure::kOther;
}
