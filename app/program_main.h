// The program's entry: command line, window, payload, first run, message loop.
#pragma once
#include <windows.h>

#include "container/open_patch.h"

constexpr char kWindowClassName[] = "Orvanel GUI";
constexpr char kIconResourceName[] = "PATCHICON";

constexpr int kExitUsage = 1;
constexpr int kExitStartupFailure = 255;

// Runs the program and ends the process with 0, 1 or 255.
[[noreturn]] void ProgramMain(HINSTANCE instance, const char* commandLine);
// Dispatches the window's messages until the quit message, also one that a
// pump step inside a run met first; returns the quit code.
int RunMessageLoop();
// Opens the payload and hands its texts to the window; a failure is shown in
// the "Error" box. True when ready.
bool OpenPatchAtStartup(OpenedPatch* patch);
