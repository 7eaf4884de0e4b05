// Shared pieces of the window tests: recorded message boxes and a main window
// built the way start-up builds it, but never shown.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "ui/window_services.h"

struct BoxSeen {
    HWND owner;
    std::string text, caption;
};
extern std::vector<BoxSeen> gBoxes;

// Every message box is recorded and answered with the given button.
void InstallMessageBoxHook(int answer);
void RemoveMessageBoxHook();

// Creates the main window hidden, with a fresh window state, for host.
HWND CreateTestMainWindow(WindowHost& host);
// Destroys it, drops the quit message its destruction posts, removes the hook.
void DestroyTestMainWindow();
