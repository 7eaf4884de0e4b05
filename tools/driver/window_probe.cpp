#include "tools/driver/window_probe.h"

#include <cstdio>

namespace {

constexpr DWORD kPollIntervalMs = 20;
constexpr int kTextLimit = 4096;
constexpr int kFileNameComboId = 0x47c;  // cmb13: the name field of the open dialog
constexpr int kFileNameEditId = 0x480;   // edt1: the same in the older dialog

struct WindowSearch {
    DWORD processId;
    const char* className;
    std::vector<HWND> found;
};

// A named callback: a lambda lacks the i686 calling convention.
BOOL CALLBACK CollectWindow(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<WindowSearch*>(context);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[256] = {};
    GetClassNameA(window, name, sizeof(name));
    if (owner == search->processId && lstrcmpA(name, search->className) == 0) {
        search->found.push_back(window);
    }
    return TRUE;
}

std::string StaticTextOf(HWND box) {
    std::string text;
    for (HWND label = 0; (label = FindWindowExA(box, label, "Static", nullptr)) != 0;) {
        const std::string candidate = ControlText(label);
        if (candidate.size() > text.size()) text = candidate;
    }
    return text;
}

}  // namespace

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition()) return true;
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(kPollIntervalMs);
    }
}

std::vector<HWND> TopLevelWindows(DWORD processId, const char* className) {
    WindowSearch search{processId, className, {}};
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindChild(HWND parent, const char* className, int index) {
    HWND child = 0;
    for (int i = 0; i <= index; ++i) {
        child = FindWindowExA(parent, child, className, nullptr);
        if (!child) return 0;
    }
    return child;
}

std::string ControlText(HWND window) {
    char buffer[kTextLimit] = {};
    SendMessageA(window, WM_GETTEXT, kTextLimit, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

// Read as wide text and converted to the ANSI code page: an ANSI LB_GETTEXT
// sent to another process is not converted back by every system.
std::vector<std::string> ListBoxEntries(HWND listBox) {
    std::vector<std::string> entries;
    const LRESULT count = SendMessageW(listBox, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t wide[kTextLimit] = {};
        SendMessageW(listBox, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
        char narrow[kTextLimit * 2] = {};
        WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof(narrow), nullptr, nullptr);
        entries.push_back(narrow);
    }
    return entries;
}

MessageBoxSeen WaitForMessageBox(DWORD processId, const char* caption, DWORD timeoutMs) {
    MessageBoxSeen seen;
    WaitUntil(
        [&] {
            for (HWND box : TopLevelWindows(processId, "#32770")) {
                if (ControlText(box) == caption && IsWindowVisible(box)) {
                    seen.box = box;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    if (seen.box) {
        seen.caption = caption;
        seen.text = StaticTextOf(seen.box);
    }
    return seen;
}

void AnswerBox(HWND box, int buttonId) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId)));
}

void ChooseInFileDialog(HWND dialog, const std::string& path) {
    HWND name = GetDlgItem(dialog, kFileNameComboId);
    if (!name) name = GetDlgItem(dialog, kFileNameEditId);
    SendMessageA(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path.c_str()));
    AnswerBox(dialog, IDOK);
}

bool SaveWindowImage(HWND window, const std::string& path) {
    // The client area: under a virtual display without a window manager
    // nobody draws the frame.
    RECT rect;
    if (!GetClientRect(window, &rect)) return false;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&rect), 2);
    const LONG width = rect.right - rect.left, height = rect.bottom - rect.top;
    // 24 bits a pixel, rows padded to 4 bytes.
    const DWORD imageSize = DWORD((width * 3 + 3) & ~3) * DWORD(height);
    BITMAPINFOHEADER info = {sizeof(info), width, height, 1, 24, BI_RGB, imageSize, 0, 0, 0, 0};
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                      &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(info);
    const BITMAPFILEHEADER file = {0x4D42 /* "BM" */, offset + info.biSizeImage, 0, 0, offset};
    FILE* out = std::fopen(path.c_str(), "wb");
    const bool saved = out && std::fwrite(&file, sizeof(file), 1, out) == 1 &&
                       std::fwrite(&info, sizeof(info), 1, out) == 1 &&
                       std::fwrite(bits, info.biSizeImage, 1, out) == 1;
    if (out) std::fclose(out);
    SelectObject(memory, previous);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}
