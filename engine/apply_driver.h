// One run of the patch: locate the target, then the passes in fixed order.
#pragma once
#include "engine/apply_run.h"

// Clears the log and runs the patch: kOk (the success line written) when it
// applied; kFileInUse when the deferred replacement was queued and the restart
// requested; kRestartNotDone when it was queued without a restart; otherwise
// the failure, already shown.
ResultCode ApplyPatch(OpenedPatch& patch, RunHost& host);
// The passes of one run, without the log's first clearing and last line.
ResultCode ApplyDriver(ApplyRun& run);
