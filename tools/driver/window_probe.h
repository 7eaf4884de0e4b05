// Reads and drives the windows of a program from outside it, as a person at
// the screen would: texts, states, list entries, message boxes, dialogs.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 20000);

// Top-level windows of the process with the given class ("#32770" for
// message boxes and dialogs).
std::vector<HWND> TopLevelWindows(DWORD processId, const char* className);
HWND FindChild(HWND parent, const char* className, int index = 0);

std::string ControlText(HWND window);  // WM_GETTEXT, works across processes
std::vector<std::string> ListBoxEntries(HWND listBox);

struct MessageBoxSeen {
    HWND box = 0;
    std::string caption;
    std::string text;
};
// A message box (or dialog) of the process with the given caption; waits for it.
MessageBoxSeen WaitForMessageBox(DWORD processId, const char* caption, DWORD timeoutMs = 20000);
// Presses the box's button with the given identifier (IDOK, IDYES, IDNO ...).
void AnswerBox(HWND box, int buttonId);

// Fills the file dialog's name field and presses Open.
void ChooseInFileDialog(HWND dialog, const std::string& path);

// Copies the window's client pixels from the screen into a 24-bit BMP file.
bool SaveWindowImage(HWND window, const std::string& path);
