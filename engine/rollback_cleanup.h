// The passes that end a run: the rollback puts back what this run's apply
// pass moved, the cleanup removes what is left of the staging area; and the
// removal of what an interrupted earlier run left in the target.
#pragma once
#include "engine/apply_run.h"

// RunCallbacks of the rollback, which undoes the changed and new files
// first and the retired files after them: a file retired to make way for a
// directory of its name, or a directory's files retired to make way for a
// file, return once what took their place has gone. Always kOk. A step that
// fails is reported once per run (message 30: close programs, apply again).
ResultCode RestoreFromBackup(ApplyRun& run, int section, const CurrentRecord& record);
ResultCode RestoreRetiredFile(ApplyRun& run, int section, const CurrentRecord& record);
// RunCallback of the cleanup pass; always kOk. After a successful run it
// also drops the older backups that the apply pass set aside.
ResultCode RemoveStagedFile(ApplyRun& run, int section, const CurrentRecord& record);
// RunCallback that drops the set-aside older backup of a record once the run
// has succeeded (run.succeeded), and the set-aside place once it is empty.
ResultCode RemoveSetAside(ApplyRun& run, int section, const CurrentRecord& record);
// Removes the empty directories of every section's staging tree, and the
// staging directory once it is empty, also of sections without a changed or
// new file; a tree with a link in it stays as it is.
void RemoveEmptyStagingDirectories(const ApplyRun& run);

// RunCallback of the first pass: notes every file name in run.fileNames.
ResultCode NoteFileName(ApplyRun& run, int section, const CurrentRecord& record);
// Removes the staging directories that an interrupted run of this patch left
// in the sections' targets, and only those: a directory that holds anything
// but staged files of the patch's records, intermediate files and set-aside
// backups stays, and so does one whose files wait for the next start of
// Windows. A set-aside backup goes back to the backup directory where that
// has no file of its name; otherwise the newer backup there supersedes it.
void RemoveStaleStaging(ApplyRun& run);
