// Runs the engine once in a process of its own, so the Windows version that
// the test sets for this program applies to this run alone.
// Usage: engine_run_helper STREAMFILE TARGETPATH; the exit code is the result.
#include "engine/apply_driver.h"
#include "tests/engine/engine_harness.h"
#include "ui/window_services.h"

int main(int argc, char** argv) {
    if (argc != 3) return 255;
    CreateHiddenWindow();
    InstallHooks();
    LoadPatchStream(ReadFileBytes(argv[1]));
    gWindow.requestedTargetPath = argv[2];
    const int result = ApplyDriver();
    CloseLoadedPatch();
    return result;
}
