// Runs the engine once in a process of its own, so the Windows version that
// the test sets for this program applies to this run alone, and so the run
// can end abruptly, as at a power cut.
// Usage: engine_run_helper STREAMFILE TARGETPATH [STEP COUNT [PAUSEMS]]
//   STEP COUNT: the process ends (exit code 99) when step number STEP (see
//   RunStep) has completed for the COUNT-th time; COUNT 0 never ends it.
//   PAUSEMS: every step waits this long, so a run can be ended from outside
//   while it moves files.
// The exit code is the result.
#include <cstdlib>

#include "engine/apply_driver.h"
#include "platform/system_hooks.h"
#include "tests/engine/engine_harness.h"

namespace {

int gStep = -1;
int gCount = 0;
DWORD gPauseMs = 0;

void EndAtStep(RunStep step) {
    if (gPauseMs) Sleep(gPauseMs);
    if (static_cast<int>(step) == gStep && --gCount == 0) ExitProcess(kEndedAtStep);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 5 && argc != 6) return 255;
    InstallRestartHook();
    if (argc >= 5) {
        gStep = std::atoi(argv[3]);
        gCount = std::atoi(argv[4]);
        if (argc == 6) gPauseMs = static_cast<DWORD>(std::atoi(argv[5]));
        gRunStepHook = EndAtStep;
    }
    OpenedPatch patch;
    LoadPatchStream(&patch, ReadFileBytes(argv[1]));
    FakeHost host;
    host.requestedTargetPath = argv[2];
    return ApplyPatch(patch, host);
}
