// Writes expanded messages into the log pane with 78-byte word wrapping and an
// open last line that the next message continues.
#pragma once
#include <string>

#include "host/run_host.h"

class LogWriter {
  public:
    explicit LogWriter(RunHost& host) : host_(host) {}
    // Feeds expanded text; a CR ends a line.
    void Write(const std::string& text);
    // Empties the pane and starts at its first column.
    void Clear();

  private:
    void ShowPendingLine();
    void EndLine();
    void FlushWord();
    void WriteByte(char c);

    RunHost& host_;
    std::string pendingLine_;
    size_t shownLength_ = 0;  // bytes of pendingLine_ on display; 0: none
    std::string pendingWord_;
    size_t column_ = 0;
};
