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

uint32_t FileSize(HANDLE handle) { return GetFileSize(handle, nullptr); }

uint32_t SeekTo(HANDLE handle, uint32_t position) {
    return SetFilePointer(handle, static_cast<LONG>(position), nullptr, FILE_BEGIN);
}

uint32_t SeekToEnd(HANDLE handle) { return SetFilePointer(handle, 0, nullptr, FILE_END); }

uint32_t CurrentPosition(HANDLE handle) { return SetFilePointer(handle, 0, nullptr, FILE_CURRENT); }

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
    return GetFileAttributesA(path.c_str()) == FILE_ATTRIBUTE_DIRECTORY;
}

bool RemoveDir(const std::string& path) { return RemoveDirectoryA(path.c_str()) != 0; }

bool MakeDir(const std::string& path) { return CreateDirectoryA(path.c_str(), nullptr) != 0; }

std::string JoinPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (Cp950LastSeparator(directory) == directory.size() - 1) return directory + name;
    return directory + "\\" + name;
}
