#include "tools/driver/running_patch.h"

#include <cstdlib>

#include "tools/driver/window_probe.h"

namespace {

constexpr DWORD kProcessStartTimeoutMs = 20000;

// A Unix path from the build becomes the same file on Wine's drive Z:.
std::string WindowsPath(std::string path) {
    if (!path.empty() && path[0] == '/') path = "Z:" + path;
    for (char& c : path) {
        if (c == '/') c = '\\';
    }
    return path;
}

// A path the build passes in the environment.
std::string EnvironmentPath(const char* name) {
    const char* value = std::getenv(name);
    return value ? WindowsPath(value) : std::string();
}

}  // namespace

std::string ApplierPath() { return EnvironmentPath("APPLIER_EXE"); }

bool RunningPatch::Start(const std::string& exe, const std::string& arguments,
                         const std::string& workingDirectory) {
    *this = RunningPatch();  // no handle of an earlier run may stand in for this one
    std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessA(nullptr, &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                          workingDirectory.empty() ? nullptr : workingDirectory.c_str(), &startup,
                          &process) != 0;
}

bool RunningPatch::FindWindowAndControls() {
    WaitUntil([&] {
        for (HWND w : TopLevelWindows(process.dwProcessId, "Orvanel GUI")) {
            if (IsWindowVisible(w)) main = w;
        }
        return main != 0;
    });
    if (!main) return false;
    for (int i = 0; HWND button = FindChild(main, "Button", i); ++i) {
        const std::string text = ControlText(button);
        if (text == " 取消" || text == "離開") exitButton = button;
        if (text == " 套用") applyButton = button;
        if (text == " 資訊") infoButton = button;
        if (text == " 瀏覽") browseButton = button;
    }
    for (int i = 0; HWND edit = FindChild(main, "Edit", i); ++i) {
        if (GetWindowLongA(edit, GWL_STYLE) & ES_MULTILINE) {
            descriptionEdit = edit;
        } else {
            pathEdit = edit;
        }
    }
    logPane = FindChild(main, "ListBox");
    return exitButton && applyButton && infoButton && browseButton && pathEdit && descriptionEdit &&
           logPane;
}

DWORD RunningPatch::WaitForExit(DWORD timeoutMs) {
    DWORD code = STILL_ACTIVE;
    if (process.hProcess && WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0) {
        GetExitCodeProcess(process.hProcess, &code);
    }
    return code;
}

void RunningPatch::Kill() {
    if (process.hProcess) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process.hProcess, 3);
            WaitForSingleObject(process.hProcess, kProcessStartTimeoutMs);
        }
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    }
    process = PROCESS_INFORMATION{};
}

std::vector<std::string> RunningPatch::Log() const { return ListBoxEntries(logPane); }

bool RunningPatch::WaitForRunEnd(const std::vector<std::string>& before) {
    return WaitUntil([&] {
        if (!IsWindowEnabled(exitButton)) return false;
        const std::vector<std::string> log = Log();
        if (log.empty() || log == before) return false;
        return log.back() == "OK，中文化檔套用完成！" || IsWindowEnabled(browseButton);
    });
}

void RunningPatch::Click(HWND button) {
    PostMessageA(main, WM_COMMAND, MAKEWPARAM(0, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

void RunningPatch::AltLetter(char letter) {
    constexpr LPARAM kAltDown = 1 << 29;
    PostMessageA(main, WM_SYSCHAR, static_cast<WPARAM>(letter), kAltDown);
}

void RunningPatch::Close() { PostMessageA(main, WM_CLOSE, 0, 0); }

// Into the build's screenshot directory, when the build asks for pictures.
void RunningPatch::Screenshot(const std::string& name) {
    const std::string directory = EnvironmentPath("SCREENSHOT_DIR");
    if (directory.empty()) return;
    CreateDirectoryA(directory.c_str(), nullptr);
    SaveImage(directory + "\\" + name + ".bmp");
}

void RunningPatch::SaveImage(const std::string& path) {
    if (path.empty()) return;
    UpdateWindow(main);
    Sleep(200);  // lets the program finish painting
    SaveWindowImage(main, path);
}
