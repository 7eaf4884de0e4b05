// Real directories, a patch stream as the payload file and a run host without
// a window: what a run of the engine needs, for the tests and their helper
// processes.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "builder/lib/payload_writer.h"
#include "container/open_patch.h"
#include "host/run_host.h"
#include "tools/driver/file_tree.h"

// Makes the stream the payload of patch, as an opened patch with no texts.
void LoadPatchStream(OpenedPatch* patch, const Bytes& stream);

// The window as a run sees it: log lines kept in a list, questions answered.
struct FakeHost : RunHost {
    void PumpMessages() override {
        ++pumps;
        if (onPump) onPump();
    }
    bool StopRequested() const override { return stopRequested; }
    std::string RequestedTargetPath() const override { return requestedTargetPath; }
    void ShowTarget(const std::string& directory) override { shownTarget = directory; }
    void ShowLogLine(const std::string& text, bool replaceLast) override {
        if (replaceLast && !log.empty()) log.pop_back();
        log.push_back(text);
    }
    void ClearLog() override { log.clear(); }
    bool AskYesNo(const std::string&, const char*) override {
        ++questions;
        return answerYes;
    }
    // How often the log holds message number's text.
    int LogCount(int number) const;

    std::vector<std::string> log;
    std::string requestedTargetPath = ".";
    std::string shownTarget;
    bool stopRequested = false;
    bool answerYes = false;
    int questions = 0;
    int pumps = 0;
    void (*onPump)() = nullptr;  // what happens meanwhile, in the tests that need it
};

// Answers the restart itself.
struct RestartAnswer {
    BOOL succeeds = FALSE;
    int restarts = 0;
};
extern RestartAnswer gRestart;
void InstallRestartHook();

// Starts a program of the executable's own directory (or of the path) and
// waits for its end; the exit code, or ~0 when it could not start.
DWORD RunProgram(const std::string& commandLine, const char* currentDirectory = nullptr);
std::string ProgramDirectory();
// The exit code of engine_run_helper ended after a chosen step.
constexpr int kEndedAtStep = 99;

// Registry values for the tests, under HKEY_CURRENT_USER keys the tests own.
constexpr uint32_t kCurrentUserRoot = 0x80000001u;  // as a patch stores it
void SetRegistryValue(const std::string& keyPath, const std::string& name, const Bytes& data,
                      DWORD type = REG_SZ);
// The value's data, or the text "<missing>".
Bytes RegistryValue(const std::string& keyPath, const std::string& name);
void DeleteRegistryKey(const std::string& keyPath);
