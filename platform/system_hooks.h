// The few calls that block on a person or end the session go through here, so
// tests can answer them. Unset hooks call the system.
#pragma once
#include <windows.h>

using MessageBoxFn = int (*)(HWND owner, const char* text, const char* caption, UINT type);
using ExitWindowsFn = BOOL (*)(UINT flags, DWORD reason);

extern MessageBoxFn gMessageBoxHook;
extern ExitWindowsFn gExitWindowsHook;

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type);
// Asks Windows to restart; on the NT family the shutdown privilege is enabled first.
bool RequestRestart();
