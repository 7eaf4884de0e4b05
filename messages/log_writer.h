// Writes expanded messages into the log pane with 78-byte word wrapping and an
// open last line that the next message continues.
#pragma once

void ShowInfo(int number);
void ShowError(int number);
void ClearLog();
// Feeds already expanded text to the writer (used by ShowInfo and the tests).
void WriteLogText(const char* text);
