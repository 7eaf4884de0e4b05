#include "messages/message_boxes.h"

#include "core/result_codes.h"
#include "messages/catalogue.h"
#include "platform/system_hooks.h"
#include "ui/window_services.h"

namespace {

const char* const kUsageCaption = "命令列參數";
const char* const kStartupErrorCaption = "Error";
constexpr UINT kUsageExitCode = 1;

std::string ExpandedMessage(int number) { return ExpandMessage(MessageText(number)); }

}  // namespace

bool AskYesNo(int number, const char* caption, UINT buttons) {
    std::string text = ExpandedMessage(number);
    // A box that cannot be shown returns 0, which counts as No.
    return ShowMessageBox(gWindow.mainWindow, text.c_str(), caption, buttons | MB_ICONQUESTION) ==
           IDYES;
}

void ShowUsageAndExit() {
    std::string text = ExpandedMessage(kUsage);
    ShowMessageBox(0, text.c_str(), kUsageCaption, MB_OK);
    ExitProcess(kUsageExitCode);
}

void ShowStartupError(int number) {
    std::string text = ExpandedMessage(number);
    ShowMessageBox(0, text.c_str(), kStartupErrorCaption, MB_OK);
}
