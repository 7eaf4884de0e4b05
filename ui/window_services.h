// The window state and the services through which the engine and the actions
// reach the window.
#pragma once
#include <windows.h>

#include <string>

#include "core/payload_layout.h"

struct WindowState {
    HWND mainWindow = 0;
    HWND exitButton = 0;
    HWND applyButton = 0;
    HWND infoButton = 0;
    HWND browseButton = 0;
    HWND pathEdit = 0;
    HWND descriptionEdit = 0;
    HWND logPane = 0;
    bool runInProgress = false;
    bool stopRequested = false;
    bool quitReceived = false;  // a WM_QUIT met inside PumpMessages
    int quitCode = 0;
    char noticeText[kNoticeCapacity + 1] = {};
    std::string requestedTargetPath = ".";
    int layoutOffset = 0;  // d: 150 with a description, 0 without
};

extern WindowState gWindow;

enum class BusyState { kIdle, kRunning };

void PumpMessages();
void SetBusy(BusyState state);
void SetControlText(HWND control, const char* text);
std::string GetControlText(HWND control);  // at most 997 characters
int TextWidth(const char* text);
void LayoutControls(bool withDescription);
void ShowDescription(const char* text);  // NULs already replaced by 0x01
// Each 0x01 and CR becomes CR CR LF; cut at a whole character or line break
// so that it fits 2,004 bytes with its terminator.
std::string DescriptionDisplayForm(const char* text);
void SetNoticeText(const char* text);
