// The few calls that block on a person or end the session go through here, so
// tests can answer them. Unset hooks call the system. Tests may also hook
// the steps of the moves in the target, to end the process after one of them
// as a power cut would.
#pragma once
#include <windows.h>

using MessageBoxFn = int (*)(HWND owner, const char* text, const char* caption, UINT type);
using ExitWindowsFn = BOOL (*)(UINT flags, DWORD reason);

extern MessageBoxFn gMessageBoxHook;
extern ExitWindowsFn gExitWindowsHook;

// Windows 95, 98 or Me: deferred renames go through WININIT.INI there, and a
// restart needs no privilege.
bool IsNineXFamily();

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type);
// Asks Windows to restart; on the NT family the shutdown privilege is enabled first.
bool RequestRestart();

// The moves of the apply pass and the rollback, one record at a time.
enum class RunStep {
    kSetAside,         // an older backup went into the staging directory
    kMovedIntoBackup,  // the destination went into the backup directory
    kMovedIntoPlace,   // the staged file took the destination's place
    kStamped,          // the destination got its time stamp
    kRestored,         // the rollback put one record's files back
};
using RunStepFn = void (*)(RunStep step);
extern RunStepFn gRunStepHook;
// Tells the hook, if any, that step is complete.
void ReachStep(RunStep step);
