// Finds the directory of the software to be patched for every section and
// fills the section tables the passes walk.
#pragma once
#include <cstdint>
#include <string>

#include "container/pass_runner.h"

// Reads the location records from recordsStart on: kOk, kPatchDamaged (a
// location record or a section body cannot be read, or more sections than
// the tables hold) or kTargetNotRegistered (the registry does not name the
// target).
ResultCode LocateTarget(RecordWalk& walk, uint32_t recordsStart);

// Turns *directory into its directory when it names an existing file: the
// part up to and including the last backslash, or "." without one.
void CutToDirectory(std::string* directory);
