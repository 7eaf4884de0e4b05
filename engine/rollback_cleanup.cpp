#include "engine/rollback_cleanup.h"

#include <string>

#include "container/pass_runner.h"
#include "container/process_texts.h"
#include "core/record_layout.h"
#include "engine/apply_driver.h"
#include "engine/file_commit.h"
#include "engine/target_paths.h"
#include "platform/file_primitives.h"

namespace {

bool IsFileKind(uint8_t kind) {
    return kind == kFileRecord || kind == kNewFileRecord || kind == kObsoleteRecord;
}

void PutBackFromBackup() {
    const std::string backup = BackupPath();
    if (!PathNamesFile(backup)) return;
    DeleteFileForced(DestinationPath());
    RenameFile(backup, DestinationPath());
    RemoveEmptyDirectoriesBelow(gTargetDirectory, JoinPath(gBackupName, gCurrentRecord.fileName));
}

// A file that only this run brought goes again, with the directories made for it.
void RemovePlacedFile() {
    DeleteFileForced(DestinationPath());
    RemoveEmptyDirectoriesBelow(gTargetDirectory, gCurrentRecord.fileName);
}

}  // namespace

int RestoreFromBackup(int /*section*/, uint8_t kind) {
    if (!IsFileKind(kind)) return 0;
    // Only this run's own moves are undone: a backup left by an earlier
    // application, or of a file found already new, stays where it is.
    switch (CurrentRecordMark()) {
        case CommitMark::kBackedUp:
            PutBackFromBackup();
            break;
        case CommitMark::kPlacedNew:
            RemovePlacedFile();
            break;
        case CommitMark::kNone:
            break;
    }
    if (gCommittedCount > 0) --gCommittedCount;
    return 0;
}

int RemoveStagedFile(int section, uint8_t kind) {
    if (kind != kFileRecord && kind != kNewFileRecord) return 0;
    DeleteFileForced(StagedPath(section));
    RemoveEmptyDirectoriesBelow(gSections.staging[section], gCurrentRecord.fileName);
    RemoveDir(gSections.staging[section]);
    return 0;
}

void RemoveEmptyStagingDirectories() {
    for (int section = 0; section <= gSections.lastSection && section < kMaxSections; ++section) {
        if (!gSections.staging[section].empty()) RemoveDir(gSections.staging[section]);
    }
}
