// First start-up: opens the payload behind this executable and reports a
// failure in the start-up error box.
#include <windows.h>

#include "container/open_patch.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "messages/message_boxes.h"

namespace {

constexpr DWORD kModuleNameCapacity = 261;
constexpr int kStartupFailureExitCode = 255;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    char modulePath[kModuleNameCapacity] = {};
    GetModuleFileNameA(nullptr, modulePath, kModuleNameCapacity);
    modulePath[kModuleNameCapacity - 1] = '\0';
    gPatchPath = modulePath;

    int result = OpenPatch();
    if (result != kOk) ShowStartupError(result);
    // Closing the payload file deletes it.
    ClosePayloadFile();
    return result == kOk ? 0 : kStartupFailureExitCode;
}
