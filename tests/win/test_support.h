// Scratch directories and small file helpers for the Windows tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A fresh directory under the temporary directory, removed with its contents
// when the object goes out of scope.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

  private:
    std::string path_;
};

void WriteWholeFile(const std::string& path, const std::string& content);
std::string ReadWholeFile(const std::string& path);
void RemoveTree(const std::string& path);
// Names in a directory, without "." and "..".
std::vector<std::string> EntryNames(const std::string& directory);
// Reads a control's whole text, without the 997-character cap of GetControlText.
std::string WindowText(HWND window);
