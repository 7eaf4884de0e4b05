// Directories held open while files move through them: held without delete
// sharing, a directory cannot be renamed away or replaced by a link until the
// hold ends, so a move goes where the check said it would.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

class DirectoryHold {
  public:
    DirectoryHold() = default;
    ~DirectoryHold();
    DirectoryHold(const DirectoryHold&) = delete;
    DirectoryHold& operator=(const DirectoryHold&) = delete;

    // Holds top and every directory on the way from it to the last part of
    // relative (which is not held), each checked after it is held: false only
    // when one below top is a link (reparse point). With make, missing
    // directories are made first; the walk ends at the first one missing.
    bool Hold(const std::string& top, const std::string& relative, bool make);
    // Lets every held directory go.
    void Release();

  private:
    bool HoldOne(const std::string& path);
    std::vector<HANDLE> handles_;
    std::vector<std::string> paths_;  // what handles_ hold, in the same order
};
