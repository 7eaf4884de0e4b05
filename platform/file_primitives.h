// Thin layer over the Windows file services. Handles are 0 when absent, never
// INVALID_HANDLE_VALUE. Paths are code page 950 texts for the ANSI calls.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/result_codes.h"

// Handle primitives. Existing files are shared for reading only.
HANDLE OpenForReadWrite(const std::string& path);
HANDLE OpenForRead(const std::string& path);
HANDLE CreateNewFile(const std::string& path);  // CREATE_NEW, not shared
void CloseFile(HANDLE handle);                  // no effect on 0
// True only when all count bytes were transferred: a short read is a failure.
bool ReadBlock(HANDLE handle, void* buffer, uint32_t count);
// The operating system's read: true on success, *got holds what arrived.
bool ReadSome(HANDLE handle, void* buffer, uint32_t count, uint32_t* got);
bool WriteBlock(HANDLE handle, const void* buffer, uint32_t count);
uint64_t FileSize(HANDLE handle);  // 0 when it cannot be read
// Positions up to 4 GiB - 1; the result is the new position, which callers
// compare with the one they asked for.
uint32_t SeekTo(HANDLE handle, uint32_t position);
uint32_t SeekToEnd(HANDLE handle);
uint32_t CurrentPosition(HANDLE handle);
void SetFileTimeFromDos(HANDLE handle, uint32_t dosDateTime);
// Puts the file's data on the disk (the handle must allow writing).
bool FlushFile(HANDLE handle);

// Path primitives.
bool DeleteFileForced(const std::string& path);                   // clears attributes first
bool RenameFile(const std::string& from, const std::string& to);  // fails onto an existing name
bool FileExists(const std::string& path);                         // openable for reading as a file
bool IsDirectory(const std::string& path);                        // whatever its other attributes
bool PathExists(const std::string& path);                         // a file or a directory
bool RemoveDir(const std::string& path);
bool MakeDir(const std::string& path);
void MakeParentDirectories(const std::string& filePath);
std::string JoinPath(const std::string& directory, const std::string& name);  // single '\'

// Temporary files and the staging directory.
HANDLE CreateTempStreamFile();  // self-deleting on close
// Makes T\PATCHn.TMP with the first n whose name is free: kOk or
// kStagingDirFailed; *stagingPath is set even when making it fails.
ResultCode CreateStagingDirectory(const std::string& targetDirectory, std::string* stagingPath);
// The names of the directories T\PATCHn.TMP that exist (staging directories
// of earlier runs, perhaps), in no particular order; links are left out.
std::vector<std::string> ExistingStagingDirectories(const std::string& targetDirectory);
// Every file and directory below root as relative paths, directories with a
// trailing '\\' and listed before what they hold; false when some directory
// cannot be listed or something below root is a link (reparse point).
bool ListTree(const std::string& root, std::vector<std::string>* entries);
// Removes the directory root and the empty directories below it, deepest
// first; nothing when a link is below it. True when root is gone, which a
// file anywhere below it prevents.
bool RemoveEmptyTree(const std::string& root);

// CRC values over files, read in 1 KB pieces. False when a seek or a read
// fails or the file ends before the range does: no value then.
bool CrcOfFileRange(HANDLE handle, uint32_t start, uint32_t end, uint32_t* reg);
bool CrcOfFile(HANDLE handle, uint32_t skipOffset, uint32_t skipLength, uint32_t* crc);

// Closes a file handle when it leaves scope.
class ScopedFile {
  public:
    explicit ScopedFile(HANDLE handle = 0) : handle_(handle) {}
    ~ScopedFile() { CloseFile(handle_); }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;
    HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != 0; }
    void reset(HANDLE handle = 0) {
        CloseFile(handle_);
        handle_ = handle;
    }
    HANDLE release() {
        HANDLE h = handle_;
        handle_ = 0;
        return h;
    }

  private:
    HANDLE handle_;
};
