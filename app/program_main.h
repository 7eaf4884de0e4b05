// The program's entry: command line, window, payload, first run, message loop.
#pragma once
#include <windows.h>

#include "container/open_patch.h"

constexpr char kWindowClassName[] = "Orvanel GUI";
constexpr char kIconResourceName[] = "PATCHICON";

constexpr int kExitUsage = 1;
constexpr int kExitStartupFailure = 255;
// An unattended run ("/quiet") ends with the codes Windows installers use, so
// a deployment script can tell the three outcomes apart.
constexpr int kExitUnattendedDone = 0;
constexpr int kExitUnattendedRestartNeeded = 3010;  // applied once Windows restarts
constexpr int kExitUnattendedFailed = 1603;         // nothing changed (or all rolled back)
constexpr int kExitUnattendedBadCommandLine = 1639;

// Runs the program and ends the process with 0, 1 or 255, or unattended with
// one of the codes above.
[[noreturn]] void ProgramMain(HINSTANCE instance, const char* commandLine);
// Dispatches the window's messages until the quit message, also one that a
// pump step inside a run met first; returns the quit code.
int RunMessageLoop();
// Opens the payload and hands its texts to the window; a failure is shown in
// the "Error" box unless the run is unattended. True when ready.
bool OpenPatchAtStartup(OpenedPatch* patch, bool unattended = false);
// The exit code of an unattended run that ended with result.
int UnattendedExitCode(ResultCode result);
