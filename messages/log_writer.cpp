// The log pane writer: word wrapping at 78 bytes of code page 950 text, and an
// open last line that is replaced in place while it grows.
#include "messages/log_writer.h"

#include <windows.h>

#include <string>

#include "messages/catalogue.h"
#include "ui/window_services.h"

namespace {

constexpr size_t kWrapLimit = 78;
constexpr char kBlank = ' ';
constexpr char kLineBreak = '\r';

struct LogWriterState {
    std::string pendingLine;
    bool pendingShown = false;
    int logLineCount = 0;
    std::string pendingWord;
    size_t logColumn = 0;
};

LogWriterState gLog;

LRESULT SendToLog(UINT message, WPARAM wParam, LPARAM lParam) {
    if (gWindow.logPane == 0) return 0;
    return SendMessageA(gWindow.logPane, message, wParam, lParam);
}

void AddEntry(const char* text) {
    SendToLog(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text));
    SendToLog(LB_SETTOPINDEX, static_cast<WPARAM>(gLog.logLineCount), 0);
}

// Replaces the earlier display of the open line with its current text.
void ShowPendingLine() {
    if (gLog.pendingLine.empty()) return;
    SendToLog(WM_SETREDRAW, FALSE, 0);
    if (gLog.pendingShown) {
        --gLog.logLineCount;
        SendToLog(LB_DELETESTRING, static_cast<WPARAM>(gLog.logLineCount), 0);
    }
    AddEntry(gLog.pendingLine.c_str());
    SendToLog(WM_SETREDRAW, TRUE, 0);
    // State first: the pump below must find the writer consistent.
    ++gLog.logLineCount;
    gLog.pendingShown = true;
    PumpMessages();
}

void AddEmptyEntry() {
    SendToLog(WM_SETREDRAW, FALSE, 0);
    AddEntry("");
    SendToLog(WM_SETREDRAW, TRUE, 0);
    ++gLog.logLineCount;
    PumpMessages();
}

void EndLine() {
    if (gLog.pendingLine.empty()) {
        AddEmptyEntry();
    } else {
        ShowPendingLine();
    }
    gLog.pendingLine.clear();
    gLog.pendingShown = false;
}

void FlushWord() {
    ShowPendingLine();
    if (!gLog.pendingWord.empty()) {
        size_t wordLength = gLog.pendingWord.size();
        if (gLog.logColumn + wordLength > kWrapLimit) {
            EndLine();
            gLog.logColumn = wordLength;
        } else {
            gLog.logColumn += wordLength;
        }
        gLog.pendingLine += gLog.pendingWord;
        gLog.pendingWord.clear();
    }
    ShowPendingLine();
}

void WriteByte(char c) {
    if (c == kBlank) {
        FlushWord();
        gLog.pendingLine += kBlank;
        ++gLog.logColumn;
    } else if (c == kLineBreak) {
        FlushWord();
        EndLine();
        gLog.logColumn = 0;
    } else {
        gLog.pendingWord += c;
    }
}

void WriteMessage(int number) { WriteLogText(ExpandMessage(MessageText(number)).c_str()); }

}  // namespace

void WriteLogText(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) WriteByte(*p);
    FlushWord();
}

void ShowInfo(int number) { WriteMessage(number); }

// Errors look exactly like progress in the log.
void ShowError(int number) { WriteMessage(number); }

void ClearLog() {
    SendToLog(LB_RESETCONTENT, 0, 0);
    gLog = LogWriterState();
}
