#include "engine/rollback_cleanup.h"

#include <string>

#include "core/record_layout.h"
#include "engine/file_commit.h"
#include "engine/target_paths.h"
#include "platform/file_primitives.h"

namespace {

bool IsFileKind(uint8_t kind) {
    return kind == kFileRecord || kind == kNewFileRecord || kind == kObsoleteRecord;
}

void PutBackFromBackup(const ApplyRun& run) {
    const std::string backup = BackupPath(run);
    if (!PathNamesFile(backup)) return;
    DeleteFileForced(DestinationPath(run));
    RenameFile(backup, DestinationPath(run));
    RemoveEmptyDirectoriesBelow(run.targetDirectory, JoinPath(run.backupName, run.record.fileName));
}

// A file that only this run brought goes again, with the directories made for it.
void RemovePlacedFile(const ApplyRun& run) {
    DeleteFileForced(DestinationPath(run));
    RemoveEmptyDirectoriesBelow(run.targetDirectory, run.record.fileName);
}

}  // namespace

ResultCode RestoreFromBackup(ApplyRun& run, int /*section*/, uint8_t kind) {
    if (!IsFileKind(kind)) return kOk;
    // Only this run's own moves are undone: a backup left by an earlier
    // application, or of a file found already new, stays where it is.
    switch (CurrentRecordMark(run)) {
        case CommitMark::kBackedUp:
            PutBackFromBackup(run);
            break;
        case CommitMark::kPlacedNew:
            RemovePlacedFile(run);
            break;
        case CommitMark::kNone:
            break;
    }
    return kOk;
}

ResultCode RemoveStagedFile(ApplyRun& run, int section, uint8_t kind) {
    if (kind != kFileRecord && kind != kNewFileRecord) return kOk;
    const std::string& staging = run.sections.staging[section];
    DeleteFileForced(StagedPath(run, section));
    RemoveEmptyDirectoriesBelow(staging, run.record.fileName);
    RemoveDir(staging);
    return kOk;
}

void RemoveEmptyStagingDirectories(const ApplyRun& run) {
    const SectionTables& sections = run.sections;
    for (int section = 0; section <= sections.lastSection && section < kMaxSections; ++section) {
        if (!sections.staging[section].empty()) RemoveDir(sections.staging[section]);
    }
}
