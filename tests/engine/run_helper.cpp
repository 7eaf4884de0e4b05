// Runs the engine once in a process of its own, so the Windows version that
// the test sets for this program applies to this run alone.
// Usage: engine_run_helper STREAMFILE TARGETPATH; the exit code is the result.
#include <windows.h>

#include <string>

#include "engine/apply_driver.h"
#include "tests/engine/engine_harness.h"
#include "ui/window_services.h"

int main(int argc, char** argv) {
    if (argc != 3) return 255;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 254;
    Bytes stream(GetFileSize(file, nullptr));
    DWORD got = 0;
    ReadFile(file, stream.data(), stream.size(), &got, nullptr);
    CloseHandle(file);
    CreateHiddenWindow();
    InstallHooks();
    LoadPatchStream(stream);
    gWindow.requestedTargetPath = argv[2];
    int result = ApplyDriver();
    CloseLoadedPatch();
    return result;
}
