// The log pane writer: word wrapping at 78 bytes of code page 950 text, and an
// open last line that is replaced in place while it grows.
#include "messages/log_writer.h"

namespace {

constexpr size_t kWrapLimit = 78;
constexpr char kBlank = ' ';
constexpr char kLineBreak = '\r';

}  // namespace

// Replaces the earlier display of the open line with its current text.
void LogWriter::ShowPendingLine() {
    if (pendingLine_.empty()) return;
    const bool replace = pendingShown_;
    // State first: the pump below must find the writer consistent.
    pendingShown_ = true;
    host_.ShowLogLine(pendingLine_, replace);
    host_.PumpMessages();
}

void LogWriter::EndLine() {
    if (pendingLine_.empty()) {
        host_.ShowLogLine(std::string(), false);
        host_.PumpMessages();
    } else {
        ShowPendingLine();
    }
    pendingLine_.clear();
    pendingShown_ = false;
}

void LogWriter::FlushWord() {
    ShowPendingLine();
    if (!pendingWord_.empty()) {
        size_t wordLength = pendingWord_.size();
        if (column_ + wordLength > kWrapLimit) {
            EndLine();
            column_ = wordLength;
        } else {
            column_ += wordLength;
        }
        pendingLine_ += pendingWord_;
        pendingWord_.clear();
    }
    ShowPendingLine();
}

void LogWriter::WriteByte(char c) {
    if (c == kBlank) {
        FlushWord();
        pendingLine_ += kBlank;
        ++column_;
    } else if (c == kLineBreak) {
        FlushWord();
        EndLine();
        column_ = 0;
    } else {
        pendingWord_ += c;
    }
}

void LogWriter::Write(const std::string& text) {
    // The text ends at its first NUL, as the templates do.
    for (char c : text) {
        if (c == '\0') break;
        WriteByte(c);
    }
    FlushWord();
}

void LogWriter::Clear() {
    host_.ClearLog();
    pendingLine_.clear();
    pendingShown_ = false;
    pendingWord_.clear();
    column_ = 0;
}
