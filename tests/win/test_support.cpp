#include "tests/win/test_support.h"

namespace {

void RemoveTree(const std::string& path) {
    for (const std::string& name : EntryNames(path)) {
        std::string child = path + "\\" + name;
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(child.c_str())) RemoveTree(child);
    }
    RemoveDirectoryA(path.c_str());
}

}  // namespace

ScratchDirectory::ScratchDirectory() {
    static int counter = 0;
    char temp[MAX_PATH + 1] = {};
    GetTempPathA(MAX_PATH, temp);
    do {
        path = std::string(temp) + "fndtest" + std::to_string(GetCurrentProcessId()) + "_" +
               std::to_string(++counter);
    } while (!CreateDirectoryA(path.c_str(), nullptr));
}

ScratchDirectory::~ScratchDirectory() { RemoveTree(path); }

void WriteWholeFile(const std::string& path, const std::string& content) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(h, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(h);
}

std::string ReadWholeFile(const std::string& path) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    std::string content(GetFileSize(h, nullptr) == INVALID_FILE_SIZE ? 0 : GetFileSize(h, 0), 0);
    DWORD read = 0;
    if (!content.empty()) ReadFile(h, &content[0], static_cast<DWORD>(content.size()), &read, 0);
    CloseHandle(h);
    return content;
}

std::vector<std::string> EntryNames(const std::string& directory) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        std::string name = entry.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return names;
}

std::string WindowText(HWND window) {
    std::string text(GetWindowTextLengthA(window) + 1, '\0');
    text.resize(GetWindowTextA(window, &text[0], static_cast<int>(text.size())));
    return text;
}
