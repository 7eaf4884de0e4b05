// Runs a patch executable as a person would and reports what they would see:
// starts it on a target directory, waits for its first run to end, prints the
// log pane (as UTF-8), saves a picture of the window, closes it.
// Usage: patch_session PATCH.EXE TARGET-DIRECTORY [WINDOW.BMP]
#include <windows.h>

#include <cstdio>
#include <string>

#include "tools/driver/running_patch.h"

namespace {

constexpr UINT kWindowTextCodePage = 950;

std::string ToUtf8(const std::string& text) {
    int wide = MultiByteToWideChar(kWindowTextCodePage, 0, text.c_str(), -1, nullptr, 0);
    std::wstring w(wide > 0 ? wide : 1, L'\0');
    MultiByteToWideChar(kWindowTextCodePage, 0, text.c_str(), -1, &w[0], wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(bytes > 0 ? bytes : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, w.c_str(), -1, &out[0], bytes, nullptr, nullptr);
    out.resize(out.empty() ? 0 : out.size() - 1);
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: patch_session PATCH.EXE TARGET-DIRECTORY [WINDOW.BMP]\n");
        return 2;
    }
    RunningPatch patch;
    if (!patch.Start(argv[1], "\"" + std::string(argv[2]) + "\"", "")) {
        std::fprintf(stderr, "patch_session: cannot start %s\n", argv[1]);
        return 2;
    }
    if (!patch.FindWindowAndControls() || !patch.WaitForRunEnd()) {
        std::fprintf(stderr, "patch_session: the patch window did not finish its run\n");
        patch.Kill();
        return 2;
    }
    for (const std::string& line : patch.Log()) std::printf("  | %s\n", ToUtf8(line).c_str());
    if (argc > 3) patch.SaveImage(argv[3]);
    patch.Close();
    DWORD code = patch.WaitForExit();
    if (code == STILL_ACTIVE) patch.Kill();
    std::printf("patch exit code %lu\n", static_cast<unsigned long>(code));
    std::fflush(stdout);
    return code == 0 ? 0 : 1;
}
