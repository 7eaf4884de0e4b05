// The registry pass: for every registry record, checks that the software is
// registered, then opens existing keys and writes the record's values. What
// each value held before is kept, so a run that fails puts it back.
#pragma once
#include "engine/apply_run.h"

// RunCallback of the registry pass: kOk, kPatchDamaged, kTargetNotRegistered
// or kRegistryDenied.
ResultCode ApplyRegistryRecord(ApplyRun& run, int section, const CurrentRecord& record);
// Puts back every value this run wrote: its old data and type, or no value
// where there was none. Failures are passed over (the rollback goes on).
void RestoreRegistryValues(ApplyRun& run);
