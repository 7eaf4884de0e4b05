// Whether the directory a run was pointed at holds the software the patch is
// for. A run never creates a target directory: a mistyped path would
// otherwise become an empty folder and fail file by file.
#pragma once
#include "engine/apply_run.h"

// kOk when every section's target is an existing directory and, where the
// section needs files already there (a changed file that is not optional),
// holds at least one file the patch knows, in place or in the backup. Else
// kNotForThisTarget, with the run's target directory set to the one at fault
// so that the message names it.
ResultCode CheckTargetsPresent(ApplyRun& run);
