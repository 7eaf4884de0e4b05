// Finds the payload behind the executable's image and extracts it.
#pragma once
#include <windows.h>

// The executable's own file, open for reading until the process ends.
extern HANDLE gPatchExecutable;

// Opens gPatchPath, checks trailer and header, extracts the payload and hands
// the notice and description to the window. Returns 0, 1, 14, 15, 16 or 40.
int OpenPatch();
// Called with the executable positioned behind the header; 0, 1 or 40.
int ExtractPayload();
