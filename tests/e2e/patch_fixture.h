// Patch executables and target trees for the end-to-end tests: the built
// applier plus a payload made with the writer, and a program run as a user
// would start it.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "tests/engine/engine_harness.h"

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
std::string ApplierPath();  // from the environment the build gives the test

// The running patch program and the handles of its window.
struct RunningPatch {
    PROCESS_INFORMATION process{};
    HWND main = 0, exitButton = 0, applyButton = 0, infoButton = 0, browseButton = 0;
    HWND pathEdit = 0, descriptionEdit = 0, logPane = 0;

    bool Start(const std::string& exe, const std::string& arguments,
               const std::string& workingDirectory);
    bool FindWindowAndControls();                // waits for the shown window
    DWORD WaitForExit(DWORD timeoutMs = 20000);  // exit code, or STILL_ACTIVE
    void Kill();

    std::vector<std::string> Log() const;
    // Waits for a run to end that leaves a log different from `before`.
    bool WaitForRunEnd(const std::vector<std::string>& before = {});
    void Click(HWND button);  // as the button's own notification
    void AltLetter(char letter);
    void Close();
    void Screenshot(const std::string& name);    // into the build's screenshot directory
    void SaveImage(const std::string& bmpPath);  // none when the path is empty
};
