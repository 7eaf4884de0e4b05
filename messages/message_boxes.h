// The message boxes of start-up that show catalogue texts.
#pragma once
#include "messages/catalogue.h"

// Usage box (message kUsage), then exit code 1.
[[noreturn]] void ShowUsageAndExit();
// Start-up error box; no owner, caption "Error".
void ShowStartupError(ResultCode result, const MessageTexts& texts);
