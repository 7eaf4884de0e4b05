// Replacement of files in use at the next start of Windows: the moves the
// apply pass could not carry out are queued with the operating system.
#pragma once
#include <string>

#include "engine/apply_run.h"

// RunCallback of the deferred-replacement pass; always kOk.
ResultCode DeferInUseFile(ApplyRun& run, int section, uint8_t kind);

// Queues the move source -> destination for the next start of Windows: the
// delay-until-reboot list on the NT family, WININIT.INI on the 9x family.
void QueueRename(const std::string& source, const std::string& destination);
