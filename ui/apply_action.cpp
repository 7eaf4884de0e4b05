#include "ui/apply_action.h"

#include <windows.h>
#include <commdlg.h>

#include <cstddef>
#include <cstring>

#include "engine/apply_driver.h"

namespace {

constexpr char kBrowseTitle[] = "選擇要套用中文化檔的目標檔案：";
constexpr DWORD kBrowseFlags =
    OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST;
// The structure without the fields later systems added, so every system of
// the 9x and NT families accepts it (76 bytes in the 32-bit build).
// (OPENFILENAME_SIZE_VERSION_400A, written so the compiler can check it.)
constexpr DWORD kOpenFileNameSize =
    offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(OPENFILENAMEA::lpTemplateName);
#ifndef _WIN64
static_assert(kOpenFileNameSize == 76, "the shipped 32-bit build passes the 76-byte structure");
#endif

void EnablePathEntry(BOOL enable) {
    EnableWindow(gWindow.browseButton, enable);
    EnableWindow(gWindow.pathEdit, enable);
}

}  // namespace

void ApplyClicked(WindowHost& host) {
    const std::string path = GetControlText(gWindow.pathEdit);
    if (path.empty()) return;
    host.requestedTargetPath = path;
    RunApply(host);
}

ResultCode RunApply(WindowHost& host) {
    host.SetBusy(BusyState::kRunning);
    EnablePathEntry(FALSE);
    const ResultCode result = ApplyPatch(host.patch, host);
    if (result == kOk) {
        ShowWindow(gWindow.applyButton, SW_HIDE);
    } else {
        EnablePathEntry(TRUE);
    }
    host.SetBusy(BusyState::kIdle);
    return result;
}

std::string BrowseStartText(const std::string& pathText) {
    std::string start = pathText == "." ? ".\\" : pathText;
    if (!start.empty() && start.back() == '\\') start += '.';
    // A cut path would name some other file, and could split a double-byte
    // character: a name that does not fit starts the dialog without one.
    if (start.size() >= kBrowseBufferSize) return std::string();
    return start;
}

void BrowseForTarget(WindowHost& host) {
    char fileName[kBrowseBufferSize] = {};
    const std::string start = BrowseStartText(GetControlText(gWindow.pathEdit));
    std::memcpy(fileName, start.c_str(), start.size() + 1);

    OPENFILENAMEA dialog = {};
    dialog.lStructSize = kOpenFileNameSize;
    dialog.hwndOwner = gWindow.mainWindow;
    dialog.hInstance = GetModuleHandleA(nullptr);
    dialog.lpstrFile = fileName;
    dialog.nMaxFile = kBrowseBufferSize;
    dialog.lpstrTitle = kBrowseTitle;
    dialog.Flags = kBrowseFlags;
    if (GetOpenFileNameA(&dialog)) {
        fileName[kBrowseBufferSize - 1] = '\0';
        host.requestedTargetPath = fileName;
        SetControlText(gWindow.pathEdit, fileName);
    }
    host.SetBusy(BusyState::kIdle);
}
