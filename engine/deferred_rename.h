// Replacement of files in use at the next start of Windows: the moves the
// apply pass could not carry out are queued with the operating system, and
// withdrawn again when the run fails after all.
#pragma once
#include <string>

#include "engine/apply_run.h"

// RunCallback of the deferred-replacement pass: kOk, or kFileInUse when a
// move cannot be queued (the run then fails and withdraws what it queued).
ResultCode DeferInUseFile(ApplyRun& run, int section, const CurrentRecord& record);

// Queues the move source -> destination for the next start of Windows: the
// delay-until-reboot list on the NT family, WININIT.INI on the 9x family.
// replace lets the move take the place of a file at the destination (the NT
// list only). False when nothing was queued.
bool QueueRename(const std::string& source, const std::string& destination, bool replace);
// Removes the moves this run queued (run.queuedRenames) from the queue.
void WithdrawQueuedRenames(ApplyRun& run);
// True when a queued move takes its file from below directory.
bool RenamesPendingFrom(const std::string& directory);
// True when a move queued for the next start of Windows takes a file from,
// or puts one into, the target of any section (or the target itself): a run
// must not stage or queue over moves that are still waiting.
bool RenamesPendingFor(const ApplyRun& run);
