// The apply pass: moves each file about to be replaced or retired into the
// backup directory and each staged file into its place. It remembers which
// records it changed, so a rollback undoes exactly this run's moves.
#pragma once
#include <cstdint>
#include <string>

// What the apply pass of this run did to the destination of one record.
enum class CommitMark {
    kNone,       // nothing moved (already new, nothing staged, or not reached)
    kBackedUp,   // the destination went into the backup directory
    kPlacedNew,  // a staged file arrived where no file was before
};

// PassCallback of the apply pass.
int CommitFile(int section, uint8_t kind);
// Moves the destination into the backup directory: 0, 7 or 8.
int BackupFile(const std::string& destination);

// Forgets the marks of an earlier run; called before every apply pass.
void ClearCommitMarks();
// The mark of the record just read (the walker stands at its end).
CommitMark CurrentRecordMark();
