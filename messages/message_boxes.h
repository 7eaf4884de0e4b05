// The message boxes that show catalogue texts.
#pragma once
#include <windows.h>

// True only when the user chose Yes. The question icon is added.
bool AskYesNo(int number, const char* caption, UINT buttons);
// Usage box (message 28), then exit code 1.
[[noreturn]] void ShowUsageAndExit();
// Start-up error box with message number; no owner, caption "Error".
void ShowStartupError(int number);
