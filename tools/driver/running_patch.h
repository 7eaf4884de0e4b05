// A patch program started as a user would start it, driven through its
// window from outside: for the end-to-end tests, the demo and the campaigns.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// The applier the build made (APPLIER_EXE), as a Windows path.
std::string ApplierPath();

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
