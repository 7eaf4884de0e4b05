// The apply pass: moves each file about to be replaced or retired into the
// backup directory and each staged file into its place. It marks which
// records it changed, so a rollback undoes exactly this run's moves.
//
// Every step leaves each original file whole in the target or in the backup,
// so a run ended at any point is finished by the next run: an older backup is
// only set aside (into the staging directory) until the run has succeeded,
// and staged files are on the disk before the first move.
#pragma once
#include <string>

#include "engine/apply_run.h"

class DirectoryHold;

// Holds the existing directories that the current record's moves pass
// through: false when one below the target has become a link since the names
// were checked.
bool HoldRecordPaths(const RecordWalk& walk, int section, const CurrentRecord& record,
                     DirectoryHold* hold);
// Holds the existing directories of the current record's staged file and
// set-aside place: false when one of them has become a link.
bool HoldStagingPaths(const RecordWalk& walk, int section, const CurrentRecord& record,
                      DirectoryHold* hold);
// Holds the staging directory and makes and holds the directories of the
// current record's staged file: false when one of them is a link.
bool HoldStagedFilePath(const RecordWalk& walk, int section, const CurrentRecord& record,
                        DirectoryHold* hold);
// RunCallback of the apply pass.
ResultCode CommitFile(ApplyRun& run, int section, const CurrentRecord& record);
// Moves the destination into the backup directory, an older backup there
// into the set-aside place first: kOk, kFileInUse or kBackupFailed (another
// program holds the file), kDiskFull, or 30 (any other failure to move).
ResultCode BackupFile(const ApplyRun& run, int section, const CurrentRecord& record,
                      const std::string& destination);
// The mark of the record just read.
CommitMark CurrentRecordMark(ApplyRun& run);

// Where the older backup of a record waits while the run goes on: below the
// section's staging directory, under a work name no record can have.
std::string SetAsidePath(const RecordWalk& walk, int section, const CurrentRecord& record);
std::string SetAsideDirectory(const RecordWalk& walk, int section);
