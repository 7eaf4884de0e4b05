// Scratch directories and small file helpers for the Windows tests.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

// A fresh directory under the temporary directory, removed with its contents.
class ScratchDirectory {
  public:
    ScratchDirectory();
    ~ScratchDirectory();
    std::string operator/(const std::string& name) const { return path + "\\" + name; }
    std::string path;
};

void WriteWholeFile(const std::string& path, const std::string& content);
std::string ReadWholeFile(const std::string& path);
std::vector<std::string> EntryNames(const std::string& directory);  // without . and ..
std::string WindowText(HWND window);
