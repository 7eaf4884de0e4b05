// Before the check pass stages anything: every name of the patch as Windows
// will resolve it. The record reader has already refused names Windows cannot
// create; here names meet one another, the backup directory and the disk.
#pragma once
#include <string>
#include <vector>

#include "core/check_decision.h"  // PathsFitFileCalls
#include "engine/apply_run.h"
#include "platform/path_probe.h"

// Walks every section: kOk, or kInternalFileError when two records name one
// file, a backup directory lies on, above or below a file of the patch, a
// path below a target passes through a reparse point, or a path the run
// would use is too long for the file calls.
// probe tells what a path is on disk (tests stand in for file systems Wine
// cannot make).
ResultCode CheckPatchNames(ApplyRun& run, PathProbe (*probe)(const std::string&) = ProbePath);
