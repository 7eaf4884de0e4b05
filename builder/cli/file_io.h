// The builder's file system side: reading trees and files without following
// anything the user did not ask for, and writing the patch so that no input
// is ever replaced and a failed run leaves no half-written file.
#pragma once
#include <ostream>
#include <string>
#include <vector>

#include "builder/lib/patch_reader.h"
#include "builder/lib/tree_plan.h"

enum class PathKind { kMissing, kFile, kDirectory, kOther };
PathKind KindOf(const std::string& path);  // follows links, as opening the path would

// A regular file of at most 4 GiB (what a patch can carry); a directory or a
// special file is refused by name.
bool ReadFileBytes(const std::string& path, Bytes* out, std::string* error);

// Reads and parses a patch executable; on failure says why on err.
bool ReadPatchFile(const std::string& path, PatchContents* patch, std::ostream& err);

// DOS times have no zone: the applier stamps them as the user's local time.
// They are taken in UTC unless another rule is asked for, so the same inputs
// give the same patch on any machine.
struct TimeZoneRule {
    bool local = false;     // this machine's zone
    int offsetMinutes = 0;  // east of UTC, when not local
};
bool ParseTimeZone(const std::string& text, TimeZoneRule* rule);

// DOS date/time (date high, time low) of a file's last write, 0 if unknown.
uint32_t FileDosTime(const std::string& path, const TimeZoneRule& zone);

struct TreeOptions {
    bool followLinks = false;           // links that stay inside the tree
    std::vector<std::string> excludes;  // MatchesPattern on the relative name or its last part
    std::vector<size_t>* excludeHits = nullptr;  // per pattern, when given
    TimeZoneRule zone;
    std::vector<std::string>* warnings = nullptr;  // names Windows reads otherwise, when given
};

// Every regular file below a directory, by relative name with '/'
// separators. A symbolic link (unless followed), a special file or an
// unreadable directory is an error naming it.
bool ReadTree(const std::string& path, const TreeOptions& options, Tree* tree, std::string* error);

// A tree holding one file under the given name.
bool ReadSingleFile(const std::string& path, const std::string& name, const TreeOptions& options,
                    Tree* tree, std::string* error);

// The output may not be, or lie inside, any input; an existing file is
// replaced only when force is set.
bool CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs, bool force,
                     std::string* error);

// Writes to a fresh name in the output's directory (created exclusively,
// never through a link), flushes it to disk and moves it into place at the
// end; on any failure the temporary file is removed and path is untouched.
// Without replace the move itself refuses an existing file, so a build that
// finished meanwhile is never overwritten. SIGINT, SIGTERM and SIGHUP remove
// the temporary file before the process ends.
bool WriteFileAtomically(const std::string& path, const Bytes& data, bool replace,
                         std::string* error);

// Before the long work: a file can be created in the output's directory, and
// its free space holds at least `least` bytes. *warning is set when fewer
// than `most` bytes are free (the patch may still fit).
bool CheckOutputDirectory(const std::string& output, uint64_t least, uint64_t most,
                          std::string* warning, std::string* error);

enum class SpaceVerdict { kEnough, kMayNotFit, kTooLittle };
SpaceVerdict JudgeSpace(uint64_t available, uint64_t least, uint64_t most);

// The running program's own file, resolved (not argv[0]); empty if unknown.
std::string ExecutablePath(const char* argv0);
