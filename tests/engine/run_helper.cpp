// Runs the engine once in a process of its own, so the Windows version that
// the test sets for this program applies to this run alone.
// Usage: engine_run_helper STREAMFILE TARGETPATH; the exit code is the result.
#include "engine/apply_driver.h"
#include "tests/engine/engine_harness.h"

int main(int argc, char** argv) {
    if (argc != 3) return 255;
    InstallRestartHook();
    OpenedPatch patch;
    LoadPatchStream(&patch, ReadFileBytes(argv[1]));
    FakeHost host;
    host.requestedTargetPath = argv[2];
    return ApplyPatch(patch, host);
}
