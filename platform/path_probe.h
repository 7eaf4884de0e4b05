// What an existing path is on disk, without following a reparse point, and
// how a failed move is to be read.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

struct PathProbe {
    bool exists = false;
    bool isReparsePoint = false;  // a junction, symbolic link or other reparse point
    // Volume serial and file index: equal for two names of one file or directory.
    // Empty when the path exists but cannot be opened to ask.
    std::string identity;
};

// Looks at the path itself: a reparse point is reported, never followed.
PathProbe ProbePath(const std::string& path);

// The full path Windows makes of a relative one; the input where it cannot.
std::string FullPathOf(const std::string& path);

enum class MoveFailure {
    kInUse,     // another program holds the file: its replacement can wait for a restart
    kDiskFull,  // no room for a directory or a file's entry
    kOther,     // access or path: waiting for a restart would not help
};

// Reads the error of a failed MoveFile.
MoveFailure ClassifyMoveFailure(DWORD error);
