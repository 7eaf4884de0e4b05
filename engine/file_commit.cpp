#include "engine/file_commit.h"

#include <algorithm>
#include <vector>

#include "core/record_layout.h"
#include "engine/target_paths.h"
#include "platform/file_primitives.h"

namespace {

void MarkCurrentRecord(ApplyRun& run, CommitMark mark) {
    run.marks.push_back({run.payload.Position(), mark});
}

ResultCode CommitStagedFile(ApplyRun& run, int section) {
    const std::string destination = DestinationPath(run);
    const std::string staged = StagedPath(run, section);
    MakeParentDirectories(destination);
    if (FileExists(staged)) {
        const bool hadDestination = PathNamesFile(destination);
        ResultCode result = BackupFile(run, destination);
        if (result != kOk) return result;
        if (hadDestination) MarkCurrentRecord(run, CommitMark::kBackedUp);
        if (!RenameFile(staged, destination)) return kInternalFileError;
        if (!hadDestination) MarkCurrentRecord(run, CommitMark::kPlacedNew);
    }
    const CurrentRecord& record = run.record;
    const uint32_t newTime =
        record.kind == kFileRecord ? record.fileHeader.newTime : record.newFileHeader.newTime;
    if (newTime != 0) {
        ScopedFile file(OpenForReadWrite(destination));
        if (file) SetFileTimeFromDos(file.get(), newTime);
    }
    RemoveEmptyDirectoriesBelow(run.sections.staging[section], record.fileName);
    RemoveDir(run.sections.staging[section]);
    return kOk;
}

ResultCode RetireFile(ApplyRun& run) {
    const std::string destination = DestinationPath(run);
    if (PathNamesFile(destination)) {
        ResultCode result = BackupFile(run, destination);
        if (result != kOk) return result;
        MarkCurrentRecord(run, CommitMark::kBackedUp);
    }
    return kOk;
}

}  // namespace

ResultCode BackupFile(const ApplyRun& run, const std::string& destination) {
    // A file held open without sharing still exists; only a failed move may say so.
    if (!PathNamesFile(destination)) return kOk;
    const std::string backup = BackupPath(run);
    MakeParentDirectories(backup);
    if (PathNamesFile(backup) && !DeleteFileForced(backup)) return kBackupFailed;
    if (!RenameFile(destination, backup)) return kFileInUse;
    return kOk;
}

ResultCode CommitFile(ApplyRun& run, int section, uint8_t kind) {
    switch (kind) {
        case kFileRecord:
        case kNewFileRecord:
            return CommitStagedFile(run, section);
        case kObsoleteRecord:
            return RetireFile(run);
        default:
            return kOk;
    }
}

CommitMark CurrentRecordMark(ApplyRun& run) {
    const uint32_t recordEnd = run.payload.Position();
    auto found =
        std::find_if(run.marks.begin(), run.marks.end(),
                     [recordEnd](const MarkedRecord& m) { return m.recordEnd == recordEnd; });
    return found == run.marks.end() ? CommitMark::kNone : found->mark;
}
