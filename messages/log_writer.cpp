// The log pane writer: word wrapping at 78 bytes of code page 950 text, and an
// open last line that is replaced in place while it grows.
#include "messages/log_writer.h"

namespace {

constexpr size_t kWrapLimit = 78;
constexpr char kBlank = ' ';
constexpr char kLineBreak = '\r';

}  // namespace

// Replaces the earlier display of the open line with its current text. The
// line is shown when a message ends or the line does, not at every word: the
// entries are the same, and a run of thousands of files makes a tenth of the
// list updates.
void LogWriter::ShowPendingLine() {
    if (pendingLine_.size() == shownLength_) return;  // empty, or shown as it is
    const bool replace = shownLength_ != 0;
    // State first: the pump below must find the writer consistent.
    shownLength_ = pendingLine_.size();
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
    shownLength_ = 0;
}

void LogWriter::FlushWord() {
    if (pendingWord_.empty()) return;
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
    ShowPendingLine();
}

void LogWriter::Clear() {
    host_.ClearLog();
    pendingLine_.clear();
    shownLength_ = 0;
    pendingWord_.clear();
    column_ = 0;
}
