// The registry pass: for every registry record, checks that the software is
// registered, then opens existing keys and writes the record's values.
#pragma once
#include "engine/apply_run.h"

// RunCallback of the registry pass: kOk, kPatchDamaged, kTargetNotRegistered
// or kRegistryDenied.
ResultCode ApplyRegistryRecord(ApplyRun& run, int section, uint8_t kind);
