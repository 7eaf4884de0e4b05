#include "app/program_main.h"

#include <cstdint>

#include "app/command_line.h"
#include "container/open_patch.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "messages/message_boxes.h"
#include "platform/system_hooks.h"
#include "ui/apply_action.h"
#include "ui/main_window.h"
#include "ui/window_services.h"

namespace {

constexpr char kWindowTitle[] = "使用 Velistra 修正檔技術的中文化檔";
constexpr char kClassFailureText[] = "Windows class failure";
constexpr char kErrorCaption[] = "Error";
constexpr DWORD kModulePathBufferSize = 261;
constexpr DWORD kMainWindowStyle = WS_CAPTION | WS_SYSMENU;

// The executable's own path; empty when the system cannot give it whole, since
// a cut path could name some other file.
std::string OwnModulePath() {
    char buffer[kModulePathBufferSize] = {};
    const DWORD length = GetModuleFileNameA(nullptr, buffer, kModulePathBufferSize);
    if (length == 0 || length >= kModulePathBufferSize) return std::string();
    return std::string(buffer, length);
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, kIconResourceName);
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kWindowClassName;
    return RegisterClassExA(&windowClass) != 0;
}

// Centred on the work area; a screen smaller than the window gives a negative
// position, as the signed division says.
HWND CreateMainWindow(HINSTANCE instance) {
    const int x = (GetSystemMetrics(SM_CXFULLSCREEN) - kMainWindowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYFULLSCREEN) - kMainWindowHeight) / 2;
    return CreateWindowExA(0, kWindowClassName, kWindowTitle, kMainWindowStyle, x, y,
                           kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, instance,
                           nullptr);
}

[[noreturn]] void EndProgram(int exitCode) {
    ClosePayloadFile();  // the payload file deletes itself when closed
    ExitProcess(static_cast<UINT>(exitCode));
}

}  // namespace

int RunMessageLoop() {
    MSG message;
    while (!gWindow.quitReceived) {
        if (GetMessageA(&message, nullptr, 0, 0) <= 0) {
            return static_cast<int>(message.wParam);
        }
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return gWindow.quitCode;
}

bool OpenPatchAtStartup() {
    const int result = OpenPatch();
    if (result != 0) ShowStartupError(result);
    return result == 0;
}

void ProgramMain(HINSTANCE instance, const char* commandLine) {
    gPatchPath = OwnModulePath();
    const CommandLineRequest request = ParseCommandLine(commandLine ? commandLine : "");
    if (request.showUsage || gPatchPath.empty()) ShowUsageAndExit();
    gWindow.requestedTargetPath = request.targetPath;

    if (!RegisterMainWindowClass(instance)) {
        ShowMessageBox(nullptr, kClassFailureText, kErrorCaption, MB_ICONHAND);
        ExitProcess(kExitStartupFailure);
    }
    gWindow.mainWindow = CreateMainWindow(instance);
    if (!gWindow.mainWindow || !OpenPatchAtStartup()) {
        UnregisterClassA(kWindowClassName, instance);
        EndProgram(kExitStartupFailure);
    }

    ShowWindow(gWindow.mainWindow, SW_SHOWNORMAL);
    UpdateWindow(gWindow.mainWindow);
    SetBusy(BusyState::kIdle);
    // A close that landed before the first run has already destroyed the window.
    if (!gWindow.quitReceived) {
        RunApply();
        SetBusy(BusyState::kIdle);
    }
    EndProgram(RunMessageLoop());
}
