// The window's controls and the services through which the actions reach
// them; the window host that lets a run reach the window.
#pragma once
#include <windows.h>

#include <string>

#include "container/open_patch.h"
#include "host/run_host.h"

// How far a description pushes the controls below it down.
constexpr int kDescriptionOffset = 150;

// The one window of the process and what it holds for the process's life.
struct WindowState {
    HWND mainWindow = 0;
    HWND exitButton = 0;
    HWND applyButton = 0;
    HWND infoButton = 0;
    HWND browseButton = 0;
    HWND pathEdit = 0;
    HWND descriptionEdit = 0;
    HWND logPane = 0;
    bool quitReceived = false;  // a WM_QUIT met inside PumpMessages
    int quitCode = 0;
    char noticeText[kNoticeCapacity + 1] = {};
};

extern WindowState gWindow;

enum class BusyState { kIdle, kRunning };

// The window as a run sees it, and the state of the run the window started.
// The main window finds it through its creation parameter.
class WindowHost : public RunHost {
  public:
    explicit WindowHost(OpenedPatch& openedPatch) : patch(openedPatch) {}

    void PumpMessages() override;
    bool StopRequested() const override { return stopRequested; }
    std::string RequestedTargetPath() const override { return requestedTargetPath; }
    void ShowTarget(const std::string& directory) override;
    void ShowLogLine(const std::string& text, bool replaceLast) override;
    void ClearLog() override;
    bool AskYesNo(const std::string& text, const char* caption) override;

    // Locks the buttons for a run, or opens them again.
    void SetBusy(BusyState state);

    OpenedPatch& patch;
    bool runInProgress = false;
    bool stopRequested = false;
    bool unattended = false;  // no one to ask: questions are answered No ("later")
    std::string requestedTargetPath = ".";
};

// The host given when the window was made; null for any other window.
WindowHost* HostOfWindow(HWND window);

void PumpMessages();
void SetControlText(HWND control, const char* text);
std::string GetControlText(HWND control);  // at most 997 characters
int TextWidth(const char* text);
void LayoutControls(bool withDescription);
void ShowDescription(const char* text);  // NULs already replaced by kDescriptionSeparator
// Each kDescriptionSeparator and CR becomes CR CR LF; cut at a whole character
// or line break so that it fits 2,004 bytes with its terminator.
std::string DescriptionDisplayForm(const char* text);
void SetNoticeText(const char* text);
