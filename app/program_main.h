// The program's entry: command line, window, payload, first run, message loop.
#pragma once
#include <windows.h>

constexpr char kWindowClassName[] = "Orvanel GUI";
constexpr char kIconResourceName[] = "PATCHICON";

constexpr int kExitNormal = 0;
constexpr int kExitUsage = 1;
constexpr int kExitStartupFailure = 255;

// Runs the program and ends the process with 0, 1 or 255.
[[noreturn]] void ProgramMain(HINSTANCE instance, const char* commandLine);
// Opens the payload; a failure is shown in the "Error" box. True when ready.
bool OpenPatchAtStartup();
