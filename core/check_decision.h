// What a run decides about one record against a target directory, before it
// changes anything. The applier acts on these decisions; verify reports them
// for a directory and changes nothing. Both ask the disk through FileProbe.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/record_reader.h"

// The longest path the ANSI file calls take (MAX_PATH, its NUL included).
constexpr size_t kMaxFilePath = 260;
// The staging directory's longest name (its number stays below 10000).
constexpr char kLongestStagingName[] = "PATCH9999.TMP";

// Size and CRC value a file must have, its skip range left out of the CRC.
struct FileFingerprint {
    uint32_t size = 0;
    uint32_t crc = 0;
    uint32_t skipOffset = 0;
    uint32_t skipLength = 0;
};

enum class ProbeAnswer { kAbsent, kDiffers, kMatches };

// The disk as a decision sees it. Paths are relative to the target directory
// (code page 950, '\\' separators), looked up as Windows looks them up.
class FileProbe {
  public:
    virtual ProbeAnswer Compare(const std::string& relative, const FileFingerprint& expected) = 0;
    virtual bool Exists(const std::string& relative) = 0;
    // What is below the directory relative into *entries (paths relative to
    // it, a directory with a trailing '\\'); false when relative is no
    // directory, or holds a link: no place is cleared through a link, and
    // the move into such a place fails on its own. A probe that only asks
    // whether files are there sees no directories.
    virtual bool ListFiles(const std::string& /*relative*/, std::vector<std::string>* /*entries*/) {
        return false;
    }

  protected:
    ~FileProbe() = default;
};

enum class CheckVerdict {
    kAlreadyNew,   // a changed file that has the new content
    kFromTarget,   // rebuildable from a version found in the target
    kFromBackup,   // rebuildable from a version found only in the backup directory
    kMissing,      // a changed file with nothing of it there (message 34 unless optional)
    kForeign,      // a changed file there, but no known version (message 34 unless optional)
    kCreate,       // a new file where none is
    kReplace,      // a new file over an existing one, which goes into the backup
    kRetire,       // an obsolete file there, which goes into the backup
    kAbsent,       // an obsolete file already gone
    kRegistry,     // registry changes, decided only when the run writes them
    kRefusedName,  // the backup name meets a file of the patch (message 38)
    kPathTooLong,  // a path the run would use is too long for the file calls (message 38)
};

struct RecordCheck {
    CheckVerdict verdict = CheckVerdict::kRegistry;
    int variant = -1;        // 0-based variant that starts the chain, for kFromTarget / kFromBackup
    std::string sourcePath;  // relative path of that variant's file
};

// The decision for one record of a section with backup name backupName.
// A changed file: the file itself when it is new; else, variant by variant,
// the source under the target, then under the backup directory (a run ended
// between its two moves leaves a source there alone, and a file that matches
// no version may have its old copy there); the first match wins.
RecordCheck CheckRecord(const CurrentRecord& record, const std::string& backupName,
                        FileProbe& probe);

// Where a changed or new file is to go, against what the obsolete records
// before it (retired, names of this section) move into the backup: a file
// and a directory of one name trade places only by the record order.
enum class PlaceState {
    kFree,              // no directory there that the patch clears
    kTaken,             // a file on its way or in a directory there that no record retires
    kClearedDirectory,  // a directory the records before it empty, to be removed
};
PlaceState CheckPlace(const CurrentRecord& record, const std::vector<std::string>& retired,
                      FileProbe& probe);

// Whether a target directory holds the software a section is for. A section
// that needs a file already there (a changed file that is not optional) is
// refused when no file it names, nor a source of its changed files, is there
// or in the backup directory: the run would fail file by file. Fed record by
// record.
struct TargetSurvey {
    bool needsFiles = false;
    bool knownThere = false;
    void Add(const CurrentRecord& record, const std::string& backupName, FileProbe& probe);
    bool HoldsNoFileOfThePatch() const { return needsFiles && !knownThere; }
};

// True when the verdict makes the run fail (optional files are passed over).
bool VerdictFailsRun(const CurrentRecord& record, CheckVerdict verdict);

// True when the paths of a record, relative names joined to the full target
// path, fit the file calls: T\N, T\B\N, S\N with the longest staging name and
// S\BINTMP1.TMP must be shorter than kMaxFilePath, their directories short
// enough for CreateDirectory (12 bytes kept free for an 8.3 name).
bool PathsFitFileCalls(const std::string& fullTarget, const std::string& backupName,
                       const std::string& fileName);

// directory and name joined with one '\\' (none added behind a trailing one).
std::string JoinWindowsPath(const std::string& directory, const std::string& name);
