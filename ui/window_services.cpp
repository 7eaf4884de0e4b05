// The window state and the services through which the engine reaches the window.
#include "ui/window_services.h"

#include <cstring>

#include "core/cp950.h"
#include "platform/system_hooks.h"

WindowState gWindow;

namespace {

constexpr int kControlTextLimit = 998;                // WM_GETTEXT buffer, terminator included
constexpr size_t kDescriptionDisplayCapacity = 2004;  // terminator included
const char* const kExitLabel = "離開";
const char* const kPathLabel = "套用至：";
const char kDescriptionLineBreak[] = "\r\r\n";
constexpr size_t kDescriptionLineBreakLength = sizeof(kDescriptionLineBreak) - 1;

// Positions of the controls that move with the description (x, width from w).
constexpr int kPathEditLeftMargin = 25;
constexpr int kPathEditWidthBase = 475;
constexpr int kRowTop = 10;
constexpr int kRowHeight = 25;
constexpr int kBrowseLeft = 519;
constexpr int kBrowseWidth = 65;
constexpr int kLogLeft = 9;
constexpr int kLogTop = 65;
constexpr int kLogWidth = 575;
constexpr int kLogHeightBase = 275;

void SetCursorTo(LPCSTR cursorId) { SetCursor(LoadCursorA(nullptr, cursorId)); }

void EnableControl(HWND control, bool enabled) {
    if (control != 0) EnableWindow(control, enabled ? TRUE : FALSE);
}

void MoveControl(HWND control, int x, int y, int width, int height) {
    if (control != 0) MoveWindow(control, x, y, width, height, TRUE);
}

bool IsDescriptionLineBreak(char c) { return c == kDescriptionSeparator || c == '\r'; }

}  // namespace

void PumpMessages() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Kept for the message loop, which posts it again after the run.
            gWindow.quitReceived = true;
            gWindow.quitCode = static_cast<int>(msg.wParam);
            return;
        }
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void WindowHost::PumpMessages() { ::PumpMessages(); }

void WindowHost::ShowTarget(const std::string& directory) {
    SetControlText(gWindow.pathEdit, directory.c_str());
}

// Drawn once per line: the pane is not redrawn between removal and addition.
void WindowHost::ShowLogLine(const std::string& text, bool replaceLast) {
    const HWND pane = gWindow.logPane;
    if (pane == 0) return;
    SendMessageA(pane, WM_SETREDRAW, FALSE, 0);
    if (replaceLast) {
        const LRESULT count = SendMessageA(pane, LB_GETCOUNT, 0, 0);
        if (count > 0) SendMessageA(pane, LB_DELETESTRING, static_cast<WPARAM>(count - 1), 0);
    }
    const LRESULT added =
        SendMessageA(pane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    if (added >= 0) SendMessageA(pane, LB_SETTOPINDEX, static_cast<WPARAM>(added), 0);
    SendMessageA(pane, WM_SETREDRAW, TRUE, 0);
}

void WindowHost::ClearLog() {
    if (gWindow.logPane != 0) SendMessageA(gWindow.logPane, LB_RESETCONTENT, 0, 0);
}

// A box that cannot be shown returns 0, which counts as No.
bool WindowHost::AskYesNo(const std::string& text, const char* caption) {
    if (unattended) return false;
    return ShowMessageBox(gWindow.mainWindow, text.c_str(), caption, MB_YESNO | MB_ICONQUESTION) ==
           IDYES;
}

WindowHost* HostOfWindow(HWND window) {
    return reinterpret_cast<WindowHost*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

void WindowHost::SetBusy(BusyState state) {
    if (state == BusyState::kRunning) {
        // A stop confirmed during an earlier run must not end this new one.
        stopRequested = false;
        runInProgress = true;
        SetControlText(gWindow.exitButton, kExitLabel);
        EnableControl(gWindow.exitButton, false);
        EnableControl(gWindow.applyButton, false);
        SetCursorTo(IDC_WAIT);
        return;
    }
    runInProgress = false;
    SetControlText(gWindow.exitButton, kExitLabel);
    EnableControl(gWindow.exitButton, true);
    EnableControl(gWindow.applyButton, !GetControlText(gWindow.pathEdit).empty());
    SetCursorTo(IDC_ARROW);
}

void SetControlText(HWND control, const char* text) {
    if (control == 0) return;
    if (text[0] == '.' && text[1] == '\\') text += 2;
    SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
    PumpMessages();
}

std::string GetControlText(HWND control) {
    if (control == 0) return std::string();
    char buffer[kControlTextLimit] = {};
    SendMessageA(control, WM_GETTEXT, kControlTextLimit, reinterpret_cast<LPARAM>(buffer));
    buffer[kControlTextLimit - 1] = '\0';
    return std::string(buffer);
}

int TextWidth(const char* text) {
    HDC dc = GetDC(gWindow.mainWindow);
    if (dc == 0) return 0;
    SIZE size = {};
    GetTextExtentPointA(dc, text, static_cast<int>(std::strlen(text)), &size);
    ReleaseDC(gWindow.mainWindow, dc);
    return size.cx;
}

void LayoutControls(bool withDescription) {
    int d = withDescription ? kDescriptionOffset : 0;
    int w = TextWidth(kPathLabel);
    MoveControl(gWindow.pathEdit, w + kPathEditLeftMargin, d + kRowTop, kPathEditWidthBase - w,
                kRowHeight);
    MoveControl(gWindow.browseButton, kBrowseLeft, d + kRowTop, kBrowseWidth, kRowHeight);
    MoveControl(gWindow.logPane, kLogLeft, d + kLogTop, kLogWidth, kLogHeightBase - d);
}

std::string DescriptionDisplayForm(const char* text) {
    const size_t room = kDescriptionDisplayCapacity - 1;
    std::string out;
    size_t length = std::strlen(text);
    for (size_t i = 0; i < length;) {
        if (IsDescriptionLineBreak(text[i])) {
            if (out.size() + kDescriptionLineBreakLength > room) break;
            out += kDescriptionLineBreak;
            ++i;
            continue;
        }
        bool doubleByte = IsCp950LeadByte(static_cast<uint8_t>(text[i])) && i + 1 < length;
        size_t width = doubleByte ? 2 : 1;
        if (out.size() + width > room) break;
        out.append(text + i, width);
        i += width;
    }
    return out;
}

void ShowDescription(const char* text) {
    std::string display = DescriptionDisplayForm(text);
    if (gWindow.descriptionEdit != 0) {
        SendMessageA(gWindow.descriptionEdit, WM_SETTEXT, 0,
                     reinterpret_cast<LPARAM>(display.c_str()));
        ShowWindow(gWindow.descriptionEdit, SW_SHOWNORMAL);
    }
    LayoutControls(true);
}

void SetNoticeText(const char* text) {
    size_t length = Cp950CutLength(text, std::strlen(text), kNoticeCapacity);
    std::memcpy(gWindow.noticeText, text, length);
    gWindow.noticeText[length] = '\0';
}
