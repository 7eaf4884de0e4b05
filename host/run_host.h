// What a run needs from the window that started it. The window implements
// this; the lower modules never see the window itself.
#pragma once
#include <string>

class RunHost {
  public:
    // Handles the window's queued messages, so it stays alive during a run.
    virtual void PumpMessages() = 0;
    // True once the user has confirmed a request to stop the run.
    virtual bool StopRequested() const = 0;
    // The target the user named: a directory or a file in it; "" when emptied.
    virtual std::string RequestedTargetPath() const = 0;
    // Shows a located target directory in the path box.
    virtual void ShowTarget(const std::string& directory) = 0;
    // Adds a line to the log pane, or replaces its last line, and keeps it in view.
    virtual void ShowLogLine(const std::string& text, bool replaceLast) = 0;
    virtual void ClearLog() = 0;
    // A question with Yes and No; true only when the user chose Yes.
    virtual bool AskYesNo(const std::string& text, const char* caption) = 0;

  protected:
    ~RunHost() = default;
};
