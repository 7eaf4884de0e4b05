#include "engine/rollback_cleanup.h"

#include <string>

#include "core/cp950.h"
#include "core/record_layout.h"
#include "core/windows_names.h"
#include "core/work_names.h"
#include "engine/deferred_rename.h"
#include "engine/file_commit.h"
#include "engine/key_set.h"
#include "engine/target_paths.h"
#include "platform/directory_hold.h"
#include "platform/file_primitives.h"
#include "platform/system_hooks.h"

namespace {

std::string SetAsidePrefix() { return std::string(kSetAsideName) + "\\"; }

// Records that leave a file in the staging directory.
bool StagesFile(RecordKind kind) {
    switch (kind) {
        case RecordKind::kFile:
        case RecordKind::kNewFile:
            return true;
        case RecordKind::kObsolete:
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            break;
    }
    return false;
}

void ReportRollbackFailure(ApplyRun& run) {
    if (run.rollbackIncomplete) return;
    run.rollbackIncomplete = true;
    run.Show(kMoveFailed);  // close programs, apply again
}

// The destination gives way to its backup, and an older backup that the
// apply pass set aside returns to the backup directory.
bool PutBackFromBackup(const ApplyRun& run, int section, const CurrentRecord& record) {
    const std::string& target = run.sections.target[section];
    const std::string& backupName = run.sections.backupName[section];
    const std::string destination = DestinationPath(run.sections, section, record);
    const std::string backup = BackupPath(run.sections, section, record);
    const std::string aside = SetAsidePath(run, section, record);
    bool ok = true;
    {
        DirectoryHold hold;
        if (!HoldRecordPaths(run, section, record, &hold)) return false;
        if (PathNamesFile(backup)) {
            if (PathNamesFile(destination) && !DeleteFileForced(destination)) return false;
            // A directory the run removed to put a file in its place comes back.
            ok = hold.Hold(target, record.fileName, true) && RenameFile(backup, destination);
        }
        if (ok && PathNamesFile(aside)) ok = RenameFile(aside, backup);
    }
    RemoveEmptyDirectoriesBelow(target, JoinPath(backupName, record.fileName));
    RemoveDir(JoinPath(target, backupName));
    return ok;
}

// A file that only this run brought goes again, with the directories made for it.
bool RemovePlacedFile(const ApplyRun& run, int section, const CurrentRecord& record) {
    const std::string destination = DestinationPath(run.sections, section, record);
    {
        DirectoryHold hold;
        if (!HoldRecordPaths(run, section, record, &hold)) return false;
        if (PathNamesFile(destination) && !DeleteFileForced(destination)) return false;
    }
    RemoveEmptyDirectoriesBelow(run.sections.target[section], record.fileName);
    return true;
}

std::string DirectoryKey(const std::string& path) {
    std::string trimmed = path;
    if (!trimmed.empty() && trimmed.back() == '\\') trimmed.pop_back();
    return WindowsNameKey(trimmed);
}

// What a staging directory of this patch for the sections `sections` may hold.
struct StagingShape {
    KeySet files;        // keys of relative paths
    KeySet directories;  // keys, without the trailing '\'
    void AddFile(const std::string& relative) {
        files.Insert(WindowsNameKey(relative));
        std::vector<std::string> parts = SplitWindowsPath(relative);
        std::string prefix;
        for (size_t n = 0; n + 1 < parts.size(); ++n) {
            prefix += (n ? "\\" : "") + parts[n];
            directories.Insert(WindowsNameKey(prefix));
        }
    }
    bool Holds(const std::string& entry) const {
        return (entry.back() == '\\' ? directories : files).Contains(DirectoryKey(entry));
    }
};

bool Includes(const std::vector<int>& sections, int section) {
    for (int each : sections) {
        if (each == section) return true;
    }
    return false;
}

// The backup path of a set-aside name, from the first section of this target
// that names the file.
std::string BackupFor(const ApplyRun& run, const std::vector<int>& sections,
                      const std::vector<std::string>& backupNames, const std::string& name) {
    const std::string key = WindowsNameKey(name);
    for (const auto& [section, fileName] : run.fileNames) {
        if (!Includes(sections, section)) continue;
        if (WindowsNameKey(fileName) == key) {
            return JoinPath(JoinPath(run.sections.target[section], backupNames[section]), name);
        }
    }
    return std::string();
}

void ClearStaleDirectory(const ApplyRun& run, const std::string& stale,
                         const std::vector<int>& sections,
                         const std::vector<std::string>& backupNames, const StagingShape& shape) {
    std::vector<std::string> entries;
    if (!ListTree(stale, &entries)) return;
    for (const std::string& entry : entries) {
        if (!shape.Holds(entry)) return;
    }
    if (RenamesPendingFrom(stale)) return;
    const std::string asideKey = DirectoryKey(SetAsidePrefix()) + "\\";
    const std::string target = stale.substr(0, Cp950LastSeparator(stale));
    const std::string staleName = stale.substr(target.size() + 1);
    for (const std::string& entry : entries) {
        if (entry.back() == '\\') continue;
        const std::string path = JoinPath(stale, entry);
        // What was listed may have been replaced by a link since.
        DirectoryHold hold;
        if (!hold.Hold(target, JoinPath(staleName, entry), false)) continue;
        if (WindowsNameKey(entry).compare(0, asideKey.size(), asideKey) == 0) {
            const std::string name = entry.substr(asideKey.size());
            const std::string backup = BackupFor(run, sections, backupNames, name);
            if (!backup.empty() && !PathExists(backup) &&
                hold.Hold(target, backup.substr(target.size() + 1), true)) {
                if (RenameFile(path, backup)) continue;
            }
        }
        DeleteFileForced(path);
    }
    RemoveEmptyTree(stale);
}

// Only this run's own moves are undone: a backup left by an earlier
// application, or of a file found already new, stays where it is.
ResultCode UndoRecord(ApplyRun& run, int section, const CurrentRecord& record) {
    bool ok = true;
    switch (CurrentRecordMark(run)) {
        case CommitMark::kBackedUp:
            ok = PutBackFromBackup(run, section, record);
            break;
        case CommitMark::kPlacedNew:
            ok = RemovePlacedFile(run, section, record);
            break;
        case CommitMark::kNone:
            return kOk;
    }
    if (!ok) ReportRollbackFailure(run);
    ReachStep(RunStep::kRestored);
    return kOk;
}

}  // namespace

ResultCode RestoreFromBackup(ApplyRun& run, int section, const CurrentRecord& record) {
    switch (record.kind) {
        case RecordKind::kFile:
        case RecordKind::kNewFile:
            return UndoRecord(run, section, record);
        case RecordKind::kObsolete:
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            break;
    }
    return kOk;
}

ResultCode RestoreRetiredFile(ApplyRun& run, int section, const CurrentRecord& record) {
    switch (record.kind) {
        case RecordKind::kObsolete:
            return UndoRecord(run, section, record);
        case RecordKind::kFile:
        case RecordKind::kNewFile:
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            break;
    }
    return kOk;
}

ResultCode RemoveSetAside(ApplyRun& run, int section, const CurrentRecord& record) {
    // Most runs set nothing aside: one look saves every record its holds.
    const std::string asideDirectory = SetAsideDirectory(run, section);
    if (!NamesTargetFile(record.kind) || !PathExists(asideDirectory)) return kOk;
    // A set-aside backup that a failed rollback could not put back stays.
    const std::string aside = SetAsidePath(run, section, record);
    if (run.succeeded && PathNamesFile(aside)) {
        DirectoryHold hold;
        if (HoldStagingPaths(run, section, record, &hold)) DeleteFileForced(aside);
    }
    RemoveEmptyDirectoriesBelow(asideDirectory, record.fileName);
    RemoveDir(asideDirectory);
    return kOk;
}

// The directories go afterwards, each once (RemoveEmptyStagingDirectories):
// tried at every record, most removals would fail on a directory still in use.
ResultCode RemoveStagedFile(ApplyRun& run, int section, const CurrentRecord& record) {
    RemoveSetAside(run, section, record);
    const std::string staged = StagedPath(run.sections, section, record);
    if (StagesFile(record.kind) && PathNamesFile(staged)) {
        DirectoryHold hold;
        if (HoldStagingPaths(run, section, record, &hold)) DeleteFileForced(staged);
    }
    return kOk;
}

void RemoveEmptyStagingDirectories(const ApplyRun& run) {
    const SectionTables& sections = run.sections;
    for (int section = 0; section <= sections.lastSection && section < kMaxSections; ++section) {
        // A tree with a link in it is left as it is.
        if (!sections.staging[section].empty()) RemoveEmptyTree(sections.staging[section]);
    }
}

ResultCode NoteFileName(ApplyRun& run, int section, const CurrentRecord& record) {
    if (NamesTargetFile(record.kind)) run.fileNames.emplace_back(section, record.fileName);
    run.backupNames[section] = run.backupName;
    return kOk;
}

void RemoveStaleStaging(ApplyRun& run) {
    const SectionTables& tables = run.sections;
    KeySet done;
    for (int section = 0; section <= tables.lastSection; ++section) {
        const std::string targetKey = WindowsNameKey(tables.target[section]);
        if (!done.Insert(targetKey)) continue;
        std::vector<int> sections;
        KeySet ownStaging;
        for (int s = section; s <= tables.lastSection; ++s) {
            if (WindowsNameKey(tables.target[s]) != targetKey) continue;
            sections.push_back(s);
            ownStaging.Insert(WindowsNameKey(tables.staging[s]));
        }
        StagingShape shape;
        for (const char* name : kIntermediateNames) shape.AddFile(name);
        shape.directories.Insert(DirectoryKey(SetAsidePrefix()));
        for (const auto& [s, name] : run.fileNames) {
            if (!Includes(sections, s)) continue;
            shape.AddFile(name);
            shape.AddFile(SetAsidePrefix() + name);
        }
        for (const std::string& stale : ExistingStagingDirectories(tables.target[section])) {
            if (!ownStaging.Contains(WindowsNameKey(stale))) {
                ClearStaleDirectory(run, stale, sections, run.backupNames, shape);
            }
        }
    }
}
