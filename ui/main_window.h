// The program's only window: its controls, painted labels and links, and its
// reactions to clicks, Alt letters and the close request.
#pragma once
#include <windows.h>

constexpr int kMainWindowWidth = 600;
constexpr int kMainWindowHeight = 405;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Builds the fonts and every control of the window (its creation message).
void CreateMainWindowControls(HWND window);
// Paints the background where asked, the labels and the two links.
void PaintMainWindow(HWND window);
