#include "tests/ui/ui_test_support.h"

#include "platform/system_hooks.h"
#include "ui/main_window.h"
#include "ui/window_services.h"

std::vector<BoxSeen> gBoxes;

namespace {

constexpr char kTestClassName[] = "UiTestMainWindow";
int gAnswer = IDOK;

int RecordBox(HWND owner, const char* text, const char* caption, UINT type) {
    gBoxes.push_back({owner, text ? text : "", caption ? caption : "", type});
    return gAnswer;
}

void DropQuitMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message != WM_QUIT) DispatchMessageA(&message);
    }
}

}  // namespace

void InstallMessageBoxHook(int answer) {
    gBoxes.clear();
    gAnswer = answer;
    gMessageBoxHook = RecordBox;
}

void RemoveMessageBoxHook() { gMessageBoxHook = nullptr; }

std::string TempPath(const std::string& name) {
    char directory[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, directory);
    return std::string(directory) + name;
}

HWND CreateTestMainWindow() {
    static bool registered = false;
    const HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!registered) {
        WNDCLASSEXA windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.style = CS_VREDRAW | CS_HREDRAW;
        windowClass.lpfnWndProc = MainWindowProc;
        windowClass.hInstance = instance;
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kTestClassName;
        registered = RegisterClassExA(&windowClass) != 0;
    }
    gWindow = WindowState();
    HWND window =
        CreateWindowExA(0, kTestClassName, "test", WS_CAPTION | WS_SYSMENU, 0, 0, kMainWindowWidth,
                        kMainWindowHeight, nullptr, nullptr, instance, nullptr);
    gWindow.mainWindow = window;
    return window;
}

void DestroyTestMainWindow() {
    if (IsWindow(gWindow.mainWindow)) DestroyWindow(gWindow.mainWindow);
    DropQuitMessages();
    gWindow = WindowState();
    RemoveMessageBoxHook();
}
