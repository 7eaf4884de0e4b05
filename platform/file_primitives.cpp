#include "platform/file_primitives.h"

#include "core/cp950.h"

namespace {

constexpr DWORD kReadWriteAccess = GENERIC_READ | GENERIC_WRITE;

// CreateFileA reports failure as INVALID_HANDLE_VALUE; callers test against 0.
HANDLE OrZero(HANDLE handle) { return handle == INVALID_HANDLE_VALUE ? 0 : handle; }

HANDLE OpenExisting(const std::string& path, DWORD access) {
    return OrZero(CreateFileA(path.c_str(), access, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_RANDOM_ACCESS, nullptr));
}

}  // namespace

HANDLE OpenForReadWrite(const std::string& path) { return OpenExisting(path, kReadWriteAccess); }

HANDLE OpenForRead(const std::string& path) { return OpenExisting(path, GENERIC_READ); }

HANDLE CreateNewFile(const std::string& path) {
    return OrZero(CreateFileA(path.c_str(), kReadWriteAccess, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
}

void CloseFile(HANDLE handle) {
    if (handle != 0) CloseHandle(handle);
}

bool ReadSome(HANDLE handle, void* buffer, uint32_t count, uint32_t* got) {
    DWORD read = 0;
    BOOL ok = ReadFile(handle, buffer, count, &read, nullptr);
    *got = ok ? read : 0;
    return ok != 0;
}

bool ReadBlock(HANDLE handle, void* buffer, uint32_t count) {
    uint32_t got = 0;
    return ReadSome(handle, buffer, count, &got) && got == count;
}

// A short write means the disk is full: treated as a failure like a short read,
// so a truncated file is never taken for a complete one.
bool WriteBlock(HANDLE handle, const void* buffer, uint32_t count) {
    DWORD written = 0;
    return WriteFile(handle, buffer, count, &written, nullptr) != 0 && written == count;
}

// Sizes of 4 GiB and more are kept whole, so such a file never passes for
// one of the size its low 32 bits name.
uint64_t FileSize(HANDLE handle) {
    DWORD high = 0;
    const DWORD low = GetFileSize(handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return (static_cast<uint64_t>(high) << 32) | low;
}

// The high word makes positions of 2 GiB and more plain unsigned offsets;
// without it the low word is a signed distance and such seeks fail.
uint32_t SeekTo(HANDLE handle, uint32_t position) {
    LONG high = 0;
    return SetFilePointer(handle, static_cast<LONG>(position), &high, FILE_BEGIN);
}

uint32_t SeekToEnd(HANDLE handle) {
    LONG high = 0;
    return SetFilePointer(handle, 0, &high, FILE_END);
}

uint32_t CurrentPosition(HANDLE handle) {
    LONG high = 0;
    return SetFilePointer(handle, 0, &high, FILE_CURRENT);
}

bool FlushFile(HANDLE handle) { return FlushFileBuffers(handle) != 0; }

void SetFileTimeFromDos(HANDLE handle, uint32_t dosDateTime) {
    FILETIME local;
    FILETIME utc;
    if (!DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local)) return;
    if (!LocalFileTimeToFileTime(&local, &utc)) return;
    SetFileTime(handle, nullptr, nullptr, &utc);
}

bool DeleteFileForced(const std::string& path) {
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path.c_str()) != 0;
}

bool RenameFile(const std::string& from, const std::string& to) {
    return MoveFileA(from.c_str(), to.c_str()) != 0;
}

bool FileExists(const std::string& path) {
    ScopedFile file(OpenForRead(path));
    return static_cast<bool>(file);
}

bool IsDirectory(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool RemoveDir(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool MakeDir(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (Cp950LastSeparator(directory) == directory.size() - 1) return directory + name;
    return directory + "\\" + name;
}
