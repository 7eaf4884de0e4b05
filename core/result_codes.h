// Result codes shared by the applier and the builder. A result is the number
// of the catalogue message that names it; kOk is success.
#pragma once

enum ResultCode : int {
    kOk = 0,
    kPatchDamaged = 1,          // a record or field of the payload cannot be read
    kStagedFileLost = 6,        // a staged file is gone or unreadable when it is moved into place
    kFileInUse = 7,             // the apply pass met a file it cannot move
    kBackupFailed = 8,          // an older backup cannot be deleted
    kRestartNotDone = 10,       // deferred replacement queued, no restart followed
    kStagingDirFailed = 11,     // the staging directory cannot be made
    kChecksumMismatch = 12,     // a rebuilt file has the wrong size or CRC
    kUserStopped = 13,          // the user asked to stop
    kNotAPatch = 14,            // notice or description cannot be read
    kCannotOpenPatch = 15,      // the executable cannot be opened
    kUnreadablePatch = 16,      // trailer or header cannot be read
    kNotForThisTarget = 17,     // the target is no directory, or holds no file of the patch
    kMoveFailed = 30,           // a move fails for a reason a restart would not cure
    kNoMatchingSource = 34,     // error: a required file matches no version
    kInternalFileError = 38,    // a record cannot be read or an internal file step fails
    kDiskFull = 39,             // a staged file cannot be created or written
    kTempFull = 40,             // a temporary file cannot be created or written
    kTargetNotRegistered = 41,  // a registry key or value cannot be read
    kRegistryDenied = 42,       // a registry key cannot be opened or written
};

// Catalogue messages that report progress or ask, never a result.
enum class MessageId : int {
    kAskRestart = 9,         // the restart question
    kCheckingProgress = 20,  // "preparing file [%m] ====> "
    kPatchApplied = 24,      // success line at the end of a run
    kUsage = 28,             // usage text
    kCheckingPatch = 31,     // first line of every run
    kSourceMismatch = 32,    // the file matches no known version
    kOptionalSkipped = 33,   // warning: optional file left alone
    kAlreadyNew = 35,        // the file already has the new content
    kDone = 37,              // rebuilt or staged
};

constexpr int kMessageCount = 42;
