#include "engine/file_commit.h"

#include <algorithm>
#include <vector>

#include "container/pass_runner.h"
#include "container/payload_file.h"
#include "core/record_layout.h"
#include "core/result_codes.h"
#include "engine/apply_driver.h"
#include "engine/target_paths.h"
#include "platform/file_primitives.h"

namespace {

// A record is known by the payload position at its end, which is unique in
// the stream and is where the walker stands while any pass handles it.
struct MarkedRecord {
    uint32_t recordEnd;
    CommitMark mark;
};

std::vector<MarkedRecord> gMarks;

void MarkCurrentRecord(CommitMark mark) { gMarks.push_back({PayloadPosition(), mark}); }

int CommitStagedFile(int section) {
    const std::string destination = DestinationPath();
    const std::string staged = StagedPath(section);
    MakeParentDirectories(destination);
    if (FileExists(staged)) {
        const bool hadDestination = PathNamesFile(destination);
        int result = BackupFile(destination);
        if (result != kOk) return result;
        ++gCommittedCount;
        if (hadDestination) MarkCurrentRecord(CommitMark::kBackedUp);
        if (!RenameFile(staged, destination)) return kInternalFileError;
        if (!hadDestination) MarkCurrentRecord(CommitMark::kPlacedNew);
    }
    const uint32_t newTime = gCurrentRecord.kind == kFileRecord
                                 ? gCurrentRecord.fileHeader.newTime
                                 : gCurrentRecord.newFileHeader.newTime;
    if (newTime != 0) {
        ScopedFile file(OpenForReadWrite(destination));
        if (file) SetFileTimeFromDos(file.get(), newTime);
    }
    RemoveEmptyDirectoriesBelow(gSections.staging[section], gCurrentRecord.fileName);
    RemoveDir(gSections.staging[section]);
    return kOk;
}

int RetireFile() {
    const std::string destination = DestinationPath();
    if (PathNamesFile(destination)) {
        int result = BackupFile(destination);
        if (result != kOk) return result;
        MarkCurrentRecord(CommitMark::kBackedUp);
    }
    ++gCommittedCount;
    return kOk;
}

}  // namespace

int BackupFile(const std::string& destination) {
    // A file held open without sharing still exists; only a failed move may say so.
    if (!PathNamesFile(destination)) return kOk;
    const std::string backup = BackupPath();
    MakeParentDirectories(backup);
    if (PathNamesFile(backup) && !DeleteFileForced(backup)) return kBackupFailed;
    if (!RenameFile(destination, backup)) return kFileInUse;
    return kOk;
}

int CommitFile(int section, uint8_t kind) {
    switch (kind) {
        case kFileRecord:
        case kNewFileRecord:
            return CommitStagedFile(section);
        case kObsoleteRecord:
            return RetireFile();
        default:
            return kOk;
    }
}

void ClearCommitMarks() { gMarks.clear(); }

CommitMark CurrentRecordMark() {
    const uint32_t recordEnd = PayloadPosition();
    auto found = std::find_if(gMarks.begin(), gMarks.end(), [recordEnd](const MarkedRecord& m) {
        return m.recordEnd == recordEnd;
    });
    return found == gMarks.end() ? CommitMark::kNone : found->mark;
}
