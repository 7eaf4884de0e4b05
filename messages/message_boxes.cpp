#include "messages/message_boxes.h"

#include "platform/system_hooks.h"

namespace {

const char* const kUsageCaption = "命令列參數";
const char* const kStartupErrorCaption = "Error";

}  // namespace

void ShowUsage() {
    std::string text = ExpandMessage(MessageText(MessageId::kUsage), MessageTexts());
    ShowMessageBox(0, text.c_str(), kUsageCaption, MB_OK);
}

void ShowStartupError(ResultCode result, const MessageTexts& texts) {
    std::string text = ExpandMessage(MessageText(result), texts);
    ShowMessageBox(0, text.c_str(), kStartupErrorCaption, MB_OK);
}
