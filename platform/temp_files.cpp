// Self-deleting temporary files in the system's temporary directory.
#include "platform/file_primitives.h"

namespace {

constexpr DWORD kTempPathCapacity = MAX_PATH;
constexpr const char* kTempPrefix = "kzt";
constexpr const char* kFallbackTempDirectory = "C:\\";
constexpr DWORD kTempFileFlags =
    FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE;

}  // namespace

HANDLE CreateTempStreamFile() {
    char directory[kTempPathCapacity + 1] = {};
    char name[kTempPathCapacity + 1] = {};
    GetTempPathA(kTempPathCapacity, directory);
    if (GetTempFileNameA(directory, kTempPrefix, 0, name) == 0 &&
        GetTempFileNameA(kFallbackTempDirectory, kTempPrefix, 0, name) == 0) {
        return 0;
    }
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                kTempFileFlags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        // GetTempFileNameA made the file; nothing would delete it otherwise.
        DeleteFileA(name);
        return 0;
    }
    return handle;
}
