// The check pass: verifies every changed file, rebuilds it from the version
// on disk into the staging directory, and stages every new file. Nothing
// under the target directory changes here.
#pragma once
#include "engine/apply_run.h"

// RunCallback of the check pass.
ResultCode CheckAndStage(ApplyRun& run, int section, const CurrentRecord& record);
// Copies the current new file's content from the payload to S\N: kOk or kDiskFull.
ResultCode StageNewFile(ApplyRun& run, int section, const CurrentRecord& record);
// True when the destination of a changed-file record already has the new
// version's size and CRC value.
bool HoldsNewVersion(const ApplyRun& run, int section, const CurrentRecord& record);
