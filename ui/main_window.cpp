#include "ui/main_window.h"

#include "platform/system_hooks.h"
#include "ui/apply_action.h"
#include "ui/web_links.h"
#include "ui/window_services.h"

namespace {

constexpr char kNoticeCaption[] = "版權資訊";
constexpr char kCloseQuestion[] = "您確定要離開並停止工作嗎？！";
constexpr char kCloseCaption[] = " 確認";

struct AltLetter {
    WPARAM character;  // lower case only: Alt with Shift does nothing
    HWND* button;
};

const AltLetter kAltLetters[] = {
    {'a', &gWindow.applyButton},
    {'b', &gWindow.browseButton},
    {'e', &gWindow.exitButton},
    {'i', &gWindow.infoButton},
};

void OnCommand(WindowHost& host, HWND window, HWND control) {
    // A null handle is a control that was never made, not a click.
    if (!control) return;
    if (control == gWindow.infoButton) {
        ShowMessageBox(window, gWindow.noticeText, kNoticeCaption, MB_OK);
        return;
    }
    // The other buttons start or end work, which a run in progress forbids.
    if (host.runInProgress) return;
    if (control == gWindow.exitButton) {
        DestroyWindow(window);
    } else if (control == gWindow.browseButton) {
        BrowseForTarget(host);
    } else if (control == gWindow.applyButton) {
        ApplyClicked(host);
    }
}

// The letters go the clicks' way and look only at the run, not at whether the
// button is enabled or shown.
void OnSysChar(const WindowHost& host, HWND window, WPARAM character) {
    if (host.runInProgress) return;
    for (const AltLetter& letter : kAltLetters) {
        if (letter.character == character) {
            SendMessageA(window, WM_COMMAND, 0, reinterpret_cast<LPARAM>(*letter.button));
            return;
        }
    }
}

// During a run the window stays open; a confirmed request stops the run at
// its next safe point, and a second close then ends the program.
void OnClose(WindowHost& host, HWND window) {
    if (!host.runInProgress) {
        DestroyWindow(window);
        return;
    }
    if (ShowMessageBox(window, kCloseQuestion, kCloseCaption, MB_YESNO | MB_ICONEXCLAMATION) ==
        IDYES) {
        host.stopRequested = true;
    }
}

void OnLeftButtonDown(LPARAM position) {
    const char* address = LinkAddressAt(LOWORD(position), HIWORD(position));
    if (address) OpenWebLink(address);
}

}  // namespace

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    WindowHost* host = HostOfWindow(window);
    // Only the creation messages come before the host is known.
    if (!host) return DefWindowProcA(window, message, wParam, lParam);
    switch (message) {
        case WM_CREATE:
            gWindow.mainWindow = window;
            CreateMainWindowControls(window);
            return 0;
        case WM_PAINT:
            PaintMainWindow(window);
            return 0;
        case WM_COMMAND:
            OnCommand(*host, window, reinterpret_cast<HWND>(lParam));
            return 0;
        case WM_LBUTTONDOWN:
            OnLeftButtonDown(lParam);
            return 0;
        case WM_SETCURSOR:
            // Also over the edit boxes and the list: arrow or hourglass, nothing else.
            SetCursor(LoadCursorA(nullptr, host->runInProgress ? IDC_WAIT : IDC_ARROW));
            return TRUE;
        case WM_SYSCHAR:
            OnSysChar(*host, window, wParam);
            return 0;
        case WM_CLOSE:
            OnClose(*host, window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
