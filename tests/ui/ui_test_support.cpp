#include "tests/ui/ui_test_support.h"

#include "platform/system_hooks.h"
#include "ui/main_window.h"

std::vector<BoxSeen> gBoxes;
static int gAnswer = IDOK;

void InstallMessageBoxHook(int answer) {
    gBoxes.clear();
    gAnswer = answer;
    gMessageBoxHook = [](HWND owner, const char* text, const char* caption, UINT) {
        gBoxes.push_back({owner, text ? text : "", caption ? caption : ""});
        return gAnswer;
    };
}

void RemoveMessageBoxHook() { gMessageBoxHook = nullptr; }

HWND CreateTestMainWindow(WindowHost& host) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = "UiTestMainWindow";
    RegisterClassExA(&windowClass);  // fails harmlessly when already registered
    gWindow = WindowState();
    gWindow.mainWindow = CreateWindowExA(
        0, windowClass.lpszClassName, "test", WS_CAPTION | WS_SYSMENU, 0, 0, kMainWindowWidth,
        kMainWindowHeight, nullptr, nullptr, windowClass.hInstance, &host);
    return gWindow.mainWindow;
}

void DestroyTestMainWindow() {
    if (IsWindow(gWindow.mainWindow)) DestroyWindow(gWindow.mainWindow);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        if (message.message != WM_QUIT) DispatchMessageA(&message);
    gWindow = WindowState();
    RemoveMessageBoxHook();
}
