#include "engine/file_commit.h"

#include <algorithm>
#include <vector>

#include "core/crc.h"
#include "core/record_layout.h"
#include "core/work_names.h"
#include "engine/file_check.h"
#include "engine/target_paths.h"
#include "core/cp950.h"
#include "platform/directory_hold.h"
#include "platform/file_primitives.h"
#include "platform/path_probe.h"
#include "platform/system_hooks.h"

namespace {

// Only a file that another program holds may wait for the restart; a full
// disk says so, and any other failure (path, access) would fail at the
// restart just the same.
ResultCode MoveFailureResult(ResultCode inUse) {
    switch (ClassifyMoveFailure(GetLastError())) {
        case MoveFailure::kInUse:
            return inUse;
        case MoveFailure::kDiskFull:
            return kDiskFull;
        case MoveFailure::kOther:
            break;
    }
    return kMoveFailed;
}

// Makes the directories of path. Directories that cannot be made fail the
// move that needs them: a full disk with its own message.
ResultCode MakeDirectoriesFor(const std::string& path) {
    MakeParentDirectories(path);
    const DWORD error = GetLastError();
    const size_t last = Cp950LastSeparator(path);
    if (last == std::string::npos || IsDirectory(path.substr(0, last))) return kOk;
    return ClassifyMoveFailure(error) == MoveFailure::kDiskFull ? kDiskFull : kMoveFailed;
}

void MarkCurrentRecord(ApplyRun& run, CommitMark mark) {
    run.marks.push_back({run.recordEnd, mark});
}

bool SameContent(const std::string& a, const std::string& b) {
    ScopedFile first(OpenForRead(a));
    ScopedFile second(OpenForRead(b));
    if (!first || !second) return false;
    const uint64_t size = FileSize(first.get());
    uint32_t crcA = 0, crcB = 0;
    return size == FileSize(second.get()) && CrcOfFile(first.get(), 0, 0, &crcA) &&
           CrcOfFile(second.get(), 0, 0, &crcB) && crcA == crcB;
}

std::string StagingName(const RecordWalk& walk, int section) {
    const std::string& staging = walk.sections.staging[section];
    const size_t last = Cp950LastSeparator(staging);
    return last == std::string::npos ? staging : staging.substr(last + 1);
}

// The set-aside place of a record, relative to the target.
std::string SetAsideBelowTarget(const RecordWalk& walk, int section, const CurrentRecord& record) {
    return JoinPath(JoinPath(StagingName(walk, section), kSetAsideName), record.fileName);
}

ResultCode CommitStagedFile(ApplyRun& run, int section, const CurrentRecord& record) {
    const std::string destination = DestinationPath(run.sections, section, record);
    const std::string staged = StagedPath(run.sections, section, record);
    const bool wasStaged = std::find(run.stagedRecords.begin(), run.stagedRecords.end(),
                                     run.recordEnd) != run.stagedRecords.end();
    if (wasStaged && !FileExists(staged)) return kStagedFileLost;
    // Held until the moves and the stamp are done.
    DirectoryHold hold;
    if (!HoldRecordPaths(run, section, record, &hold) ||
        !hold.Hold(run.sections.target[section], record.fileName, true)) {
        return kInternalFileError;
    }
    ResultCode made = MakeDirectoriesFor(destination);
    if (made != kOk) return made;
    // A new file that an interrupted run already put in place stays; its
    // backup is not overwritten by the new content.
    if (record.kind == RecordKind::kNewFile && FileExists(staged) &&
        SameContent(staged, destination)) {
        DeleteFileForced(staged);
    }
    const bool placing = FileExists(staged);
    // A file takes the place of a directory whose files the records before it
    // retired (the check pass found it): the directory goes, if nothing is
    // left in it.
    if (placing &&
        std::find(run.clearedPlaces.begin(), run.clearedPlaces.end(), run.recordEnd) !=
            run.clearedPlaces.end() &&
        !RemoveEmptyTree(destination)) {
        return kMoveFailed;
    }
    if (placing) {
        const bool hadDestination = PathNamesFile(destination);
        ResultCode result = BackupFile(run, section, record, destination);
        if (result != kOk) return result;
        if (hadDestination) MarkCurrentRecord(run, CommitMark::kBackedUp);
        if (!RenameFile(staged, destination)) return kInternalFileError;
        if (!hadDestination) MarkCurrentRecord(run, CommitMark::kPlacedNew);
        ReachStep(RunStep::kMovedIntoPlace);
    }
    const uint32_t newTime =
        record.kind == RecordKind::kFile ? record.fileHeader.newTime : record.newFileHeader.newTime;
    // A file passed over keeps its old version, so it keeps that version's time too.
    if (newTime != 0 &&
        (placing || record.kind == RecordKind::kNewFile || HoldsNewVersion(run, section, record))) {
        ScopedFile file(OpenForReadWrite(destination));
        if (file) SetFileTimeFromDos(file.get(), newTime);
        ReachStep(RunStep::kStamped);
    }
    return kOk;
}

ResultCode RetireFile(ApplyRun& run, int section, const CurrentRecord& record) {
    const std::string destination = DestinationPath(run.sections, section, record);
    DirectoryHold hold;
    if (!HoldRecordPaths(run, section, record, &hold)) return kInternalFileError;
    if (PathNamesFile(destination)) {
        ResultCode result = BackupFile(run, section, record, destination);
        if (result != kOk) return result;
        MarkCurrentRecord(run, CommitMark::kBackedUp);
    }
    return kOk;
}

}  // namespace

std::string SetAsideDirectory(const RecordWalk& walk, int section) {
    return JoinPath(walk.sections.staging[section], kSetAsideName);
}

std::string SetAsidePath(const RecordWalk& walk, int section, const CurrentRecord& record) {
    return JoinPath(SetAsideDirectory(walk, section), record.fileName);
}

bool HoldStagedFilePath(const RecordWalk& walk, int section, const CurrentRecord& record,
                        DirectoryHold* hold) {
    return hold->Hold(walk.sections.target[section],
                      JoinPath(StagingName(walk, section), record.fileName), true);
}

bool HoldStagingPaths(const RecordWalk& walk, int section, const CurrentRecord& record,
                      DirectoryHold* hold) {
    const std::string& top = walk.sections.target[section];
    return hold->Hold(top, JoinPath(StagingName(walk, section), record.fileName), false) &&
           hold->Hold(top, SetAsideBelowTarget(walk, section, record), false);
}

bool HoldRecordPaths(const RecordWalk& walk, int section, const CurrentRecord& record,
                     DirectoryHold* hold) {
    const std::string& top = walk.sections.target[section];
    const std::string& name = record.fileName;
    return hold->Hold(top, name, false) &&
           hold->Hold(top, JoinPath(walk.sections.backupName[section], name), false) &&
           HoldStagingPaths(walk, section, record, hold);
}

ResultCode BackupFile(const ApplyRun& run, int section, const CurrentRecord& record,
                      const std::string& destination) {
    // A file held open without sharing still exists; only a failed move may say so.
    if (!PathNamesFile(destination)) return kOk;
    const std::string backup = BackupPath(run.sections, section, record);
    const std::string aside = SetAsidePath(run, section, record);
    DirectoryHold hold;
    if (!hold.Hold(run.sections.target[section],
                   JoinPath(run.sections.backupName[section], record.fileName), true)) {
        return kInternalFileError;
    }
    ResultCode made = MakeDirectoriesFor(backup);
    if (made != kOk) return made;
    const bool hadBackup = PathNamesFile(backup);
    if (hadBackup) {
        if (!hold.Hold(run.sections.target[section], SetAsideBelowTarget(run, section, record),
                       true)) {
            return kInternalFileError;
        }
        made = MakeDirectoriesFor(aside);
        if (made != kOk) return made;
        if (!RenameFile(backup, aside)) return MoveFailureResult(kBackupFailed);
        ReachStep(RunStep::kSetAside);
    }
    if (!RenameFile(destination, backup)) {
        const ResultCode failure = MoveFailureResult(kFileInUse);
        if (hadBackup) RenameFile(aside, backup);
        return failure;
    }
    ReachStep(RunStep::kMovedIntoBackup);
    return kOk;
}

ResultCode CommitFile(ApplyRun& run, int section, const CurrentRecord& record) {
    switch (record.kind) {
        case RecordKind::kFile:
        case RecordKind::kNewFile:
            return CommitStagedFile(run, section, record);
        case RecordKind::kObsolete:
            return RetireFile(run, section, record);
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            break;
    }
    return kOk;
}

CommitMark CurrentRecordMark(ApplyRun& run) {
    const uint32_t recordEnd = run.recordEnd;
    auto found =
        std::find_if(run.marks.begin(), run.marks.end(),
                     [recordEnd](const MarkedRecord& m) { return m.recordEnd == recordEnd; });
    return found == run.marks.end() ? CommitMark::kNone : found->mark;
}
