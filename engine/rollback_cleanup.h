// The two passes that end a run: the rollback puts back what this run's apply
// pass moved, the cleanup removes what is left of the staging area.
#pragma once
#include <cstdint>

// PassCallback of the rollback pass; always 0.
int RestoreFromBackup(int section, uint8_t kind);
// PassCallback of the cleanup pass; always 0.
int RemoveStagedFile(int section, uint8_t kind);
// Removes every section's staging directory that is empty, also of sections
// without a changed or new file, whose records never reach the cleanup.
void RemoveEmptyStagingDirectories();
