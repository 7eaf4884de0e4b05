// The two passes that end a run: the rollback puts back what this run's apply
// pass moved, the cleanup removes what is left of the staging area.
#pragma once
#include "engine/apply_run.h"

// RunCallback of the rollback pass; always kOk.
ResultCode RestoreFromBackup(ApplyRun& run, int section, uint8_t kind);
// RunCallback of the cleanup pass; always kOk.
ResultCode RemoveStagedFile(ApplyRun& run, int section, uint8_t kind);
// Removes every section's staging directory that is empty, also of sections
// without a changed or new file, whose records never reach the cleanup.
void RemoveEmptyStagingDirectories(const ApplyRun& run);
