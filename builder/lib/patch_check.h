// What the applier would do with each record of a patch against a directory,
// without changing anything: the applier's own decision (core/check_decision.h)
// over the directory's files, with the chain rebuilt in memory.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "builder/lib/patch_reader.h"

enum class Verdict {
    kAlreadyNew,        // the file has the new content
    kRebuildable,       // a listed version matches; the chain rebuilds the new file
    kRebuildFails,      // a version matches but the chain does not give the new file
    kForeign,           // the file is there, but no listed version matches (message 34)
    kMissing,           // neither the file nor any listed source is there (message 34 too)
    kOptionalSkip,      // no version matches or nothing is there, the file is optional
    kCreate,            // a new file, nothing there yet
    kReplace,           // a new file over an existing one (which is backed up)
    kRetire,            // an obsolete file that exists
    kAbsent,            // an obsolete file that is not there
    kRegistry,          // registry changes; not checked natively
    kRefusedName,       // the backup directory meets a file of the patch (message 38)
    kPathTooLong,       // a path too long below this directory (message 38)
    kNotForThisTarget,  // the directory holds no file of the patch (message 17)
    kPlaceTaken,        // a file or directory the patch does not retire stands in its place (34)
};

struct FileVerdict {
    std::string name;  // code page 950, as in the patch
    Verdict verdict = Verdict::kForeign;
    int variant = -1;  // 1-based matching variant for kRebuildable / kRebuildFails
    bool fromBackup = false;
    std::string detail;
};

// Reads a file below the target by its name in the patch (code page 950,
// '\' separators); false when there is no such file.
using TargetReader = std::function<bool(const std::string& name, Bytes* content)>;

// Lists the files below a directory of the target (names relative to it,
// code page 950); false when there is no such directory.
using TargetLister =
    std::function<bool(const std::string& directory, std::vector<std::string>* files)>;

// fullTarget: the directory's full path as the applier would see it (code
// page 950, '\\' separators), for the path lengths; empty to leave them out.
std::vector<FileVerdict> CheckAgainstTarget(const PatchContents& patch, const TargetReader& read,
                                            const std::string& fullTarget = std::string(),
                                            const TargetLister& list = TargetLister());

// True for the verdicts that make the applier refuse the patch.
bool VerdictIsProblem(Verdict verdict);
// True when applying would succeed: no verdict is a problem.
bool WouldApply(const std::vector<FileVerdict>& verdicts);

const char* VerdictText(Verdict verdict);
// The verdict's id in verify --json.
const char* VerdictId(Verdict verdict);
