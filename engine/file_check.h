// The check pass: verifies every changed file, rebuilds it from the version
// on disk into the staging directory, and stages every new file. Nothing
// under the target directory changes here.
#pragma once
#include <cstdint>

// PassCallback of the check pass.
int CheckAndStage(int section, uint8_t kind);
// Copies the current new file's content from the payload to S\N: 0 or 39.
int StageNewFile(int section);
