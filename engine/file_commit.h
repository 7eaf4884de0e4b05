// The apply pass: moves each file about to be replaced or retired into the
// backup directory and each staged file into its place. It marks which
// records it changed, so a rollback undoes exactly this run's moves.
#pragma once
#include <string>

#include "engine/apply_run.h"

// RunCallback of the apply pass.
ResultCode CommitFile(ApplyRun& run, int section, uint8_t kind);
// Moves the destination into the backup directory: kOk, kFileInUse or kBackupFailed.
ResultCode BackupFile(const ApplyRun& run, const std::string& destination);
// The mark of the record just read (the walker stands at its end).
CommitMark CurrentRecordMark(ApplyRun& run);
