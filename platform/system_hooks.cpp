#include "platform/system_hooks.h"

MessageBoxFn gMessageBoxHook = nullptr;
ExitWindowsFn gExitWindowsHook = nullptr;
RunStepFn gRunStepHook = nullptr;

namespace {

constexpr DWORD kRestartReason = 0xFFFFFFFFu;
constexpr DWORD kNineXFamilyBit = 0x80000000u;  // GetVersion's high bit

// Without the shutdown privilege the NT family refuses ExitWindowsEx.
void EnableShutdownPrivilege() {
    HANDLE token = 0;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        return;
    }
    TOKEN_PRIVILEGES privileges = {};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid)) {
        AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    }
    CloseHandle(token);
}

}  // namespace

bool IsNineXFamily() { return (GetVersion() & kNineXFamilyBit) != 0; }

int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) {
    if (gMessageBoxHook) return gMessageBoxHook(owner, text, caption, type);
    return MessageBoxA(owner, text, caption, type);
}

bool RequestRestart() {
    if (!IsNineXFamily()) EnableShutdownPrivilege();
    if (gExitWindowsHook) return gExitWindowsHook(EWX_REBOOT, kRestartReason) != 0;
    return ExitWindowsEx(EWX_REBOOT, kRestartReason) != 0;
}

void ReachStep(RunStep step) {
    if (gRunStepHook) gRunStepHook(step);
}
