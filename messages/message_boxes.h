// The message boxes of start-up that show catalogue texts.
#pragma once
#include "messages/catalogue.h"

// Usage box (message kUsage); the caller ends the program.
void ShowUsage();
// Start-up error box; no owner, caption "Error".
void ShowStartupError(ResultCode result, const MessageTexts& texts);
