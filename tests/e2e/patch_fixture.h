// Patch executables for the end-to-end tests: the built applier plus a
// payload made with the writer.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "tests/engine/engine_harness.h"
#include "tools/driver/running_patch.h"

// Old and new contents of one changed file of the test patch.
struct FileChange {
    std::string name;
    Bytes oldContent;
    Bytes newContent;
};

struct TestPatch {
    std::vector<FileChange> changes;
    std::string newFileName;  // empty: no new file
    Bytes newFileContent;
    std::string description;  // empty: the patch has none
};

// Writes applier + payload as path; false when the applier cannot be read.
bool WritePatchExecutable(const std::string& path, const TestPatch& patch);
