#include "app/program_main.h"

#include <cstdint>

#include "app/command_line.h"
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
HWND CreateMainWindow(HINSTANCE instance, WindowHost* host) {
    const int x = (GetSystemMetrics(SM_CXFULLSCREEN) - kMainWindowWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYFULLSCREEN) - kMainWindowHeight) / 2;
    return CreateWindowExA(0, kWindowClassName, kWindowTitle, kMainWindowStyle, x, y,
                           kMainWindowWidth, kMainWindowHeight, nullptr, nullptr, instance, host);
}

// ExitProcess runs no destructors: the payload file is closed here, which deletes it.
[[noreturn]] void EndProgram(OpenedPatch& patch, int exitCode) {
    patch.payload.Close();
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

int UnattendedExitCode(ResultCode result) {
    if (result == kOk) return kExitUnattendedDone;
    // The renames wait in the queue; the restart was left to the administrator.
    // Unattended, nothing asks for the restart, so a run that reports files in
    // use queued nothing: it failed (and was rolled back) or found an earlier
    // run's moves still waiting for the restart.
    if (result == kRestartNotDone) return kExitUnattendedRestartNeeded;
    return kExitUnattendedFailed;
}

bool OpenPatchAtStartup(OpenedPatch* patch, bool unattended) {
    PatchTexts texts;
    const ResultCode result = OpenPatch(patch, &texts);
    if (result != kOk) {
        if (unattended) return false;
        MessageTexts shown;
        shown.patchPath = patch->path;
        ShowStartupError(result, shown);
        return false;
    }
    SetNoticeText(texts.notice.c_str());
    if (!texts.description.empty()) ShowDescription(texts.description.c_str());
    return true;
}

void ProgramMain(HINSTANCE instance, const char* commandLine) {
    OpenedPatch patch;
    patch.path = OwnModulePath();
    const CommandLineRequest request = ParseCommandLine(commandLine ? commandLine : "");
    const bool unattended = request.unattended;
    const bool badCommandLine = request.showUsage || patch.path.empty();
    if (badCommandLine && unattended && !request.helpAsked) {
        ExitProcess(kExitUnattendedBadCommandLine);
    }
    if (badCommandLine) {
        ShowUsage();
        ExitProcess(kExitUsage);
    }
    WindowHost host(patch);
    host.requestedTargetPath = request.targetPath;
    host.unattended = unattended;
    const int startupFailure = unattended ? kExitUnattendedFailed : kExitStartupFailure;

    if (!RegisterMainWindowClass(instance)) {
        if (!unattended) ShowMessageBox(nullptr, kClassFailureText, kErrorCaption, MB_ICONHAND);
        ExitProcess(static_cast<UINT>(startupFailure));
    }
    gWindow.mainWindow = CreateMainWindow(instance, &host);
    if (!gWindow.mainWindow || !OpenPatchAtStartup(&patch, unattended)) {
        UnregisterClassA(kWindowClassName, instance);
        EndProgram(patch, startupFailure);
    }
    // Unattended, the window stays hidden: the run writes its log into the
    // hidden pane, asks nothing, and its result becomes the exit code.
    if (unattended) EndProgram(patch, UnattendedExitCode(RunApply(host)));

    ShowWindow(gWindow.mainWindow, SW_SHOWNORMAL);
    UpdateWindow(gWindow.mainWindow);
    host.SetBusy(BusyState::kIdle);
    // A close that landed before the first run has already destroyed the window.
    if (!gWindow.quitReceived) {
        RunApply(host);
        host.SetBusy(BusyState::kIdle);
    }
    EndProgram(patch, RunMessageLoop());
}
