#include "tests/engine/engine_harness.h"

#include <atomic>

#include "container/payload_file.h"
#include "messages/catalogue.h"
#include "messages/log_writer.h"
#include "platform/file_primitives.h"
#include "platform/system_hooks.h"
#include "ui/window_services.h"

HookAnswers gAnswers;

namespace {

std::string gLoadedPatchPath;

void Collect(const std::string& root, const std::string& relative, FileTree* tree) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "\\" + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        std::string path = relative + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*tree)[path + "\\"] = Bytes();
            Collect(root, path + "\\", tree);
        } else {
            HANDLE file =
                CreateFileA((root + "\\" + path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
            Bytes content(GetFileSize(file, nullptr));
            DWORD got = 0;
            if (!content.empty()) ReadFile(file, content.data(), content.size(), &got, nullptr);
            CloseHandle(file);
            (*tree)[path] = content;
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

int AnswerMessageBox(HWND, const char*, const char*, UINT) {
    ++gAnswers.questions;
    return gAnswers.messageBoxAnswer;
}

BOOL AnswerRestart(UINT, DWORD) {
    ++gAnswers.restarts;
    return gAnswers.restartSucceeds;
}

std::string StripLineBreaks(const char* text) {
    std::string out = text;
    for (size_t at; (at = out.find("%n")) != std::string::npos;) out.erase(at, 2);
    return out;
}

}  // namespace

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string MakeScratchDirectory(const std::string& label) {
    static std::atomic<int> counter{0};
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "eng" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(counter++) + "-" + label;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

void WriteTree(const std::string& root, const FileTree& tree) {
    for (const auto& [relative, content] : tree) {
        std::string path = root + "\\" + relative;
        MakeParentDirectories(path);
        if (!relative.empty() && relative.back() == '\\') continue;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (!content.empty()) WriteFile(file, content.data(), content.size(), &written, nullptr);
        CloseHandle(file);
    }
}

FileTree ReadTree(const std::string& root) {
    FileTree tree;
    Collect(root, "", &tree);
    return tree;
}

void RemoveTree(const std::string& root) {
    FileTree tree = ReadTree(root);
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
        std::string path = root + "\\" + it->first;
        if (it->first.back() == '\\') {
            RemoveDirectoryA(path.c_str());
        } else {
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path.c_str());
        }
    }
    RemoveDirectoryA(root.c_str());
}

bool PathExists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void LoadPatchStream(const Bytes& stream) {
    CloseLoadedPatch();
    static int serial = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    gLoadedPatchPath = std::string(temp) + "engpatch" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(serial++) + ".bin";
    HANDLE file = CreateFileA(gLoadedPatchPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (!stream.empty()) WriteFile(file, stream.data(), stream.size(), &written, nullptr);
    CloseHandle(file);
    gPayloadFile = OpenForRead(gLoadedPatchPath);
    gRecordsStart = 0;
}

void CloseLoadedPatch() {
    CloseFile(gPayloadFile);
    gPayloadFile = 0;
    if (!gLoadedPatchPath.empty()) DeleteFileA(gLoadedPatchPath.c_str());
    gLoadedPatchPath.clear();
}

void CreateHiddenWindow() {
    if (gWindow.mainWindow) return;
    gWindow.mainWindow = CreateWindowA("STATIC", "engine tests", WS_OVERLAPPEDWINDOW, 0, 0, 600,
                                       400, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    gWindow.pathEdit = CreateWindowA("EDIT", "", WS_CHILD, 0, 0, 400, 25, gWindow.mainWindow,
                                     nullptr, GetModuleHandleA(nullptr), nullptr);
    gWindow.logPane = CreateWindowA("LISTBOX", "", WS_CHILD, 0, 30, 575, 275, gWindow.mainWindow,
                                    nullptr, GetModuleHandleA(nullptr), nullptr);
}

std::string PathBoxText() { return GetControlText(gWindow.pathEdit); }

std::string LogText() {
    std::string text;
    LRESULT count = SendMessageA(gWindow.logPane, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        std::string line(SendMessageA(gWindow.logPane, LB_GETTEXTLEN, i, 0) + 1, '\0');
        SendMessageA(gWindow.logPane, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        text += line.c_str();
    }
    return text;
}

int LogCount(int number) {
    const std::string needle = StripLineBreaks(MessageText(number));
    const std::string log = LogText();
    int count = 0;
    for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
        ++count;
    }
    return count;
}

bool LogHolds(int number) { return LogCount(number) > 0; }

void InstallHooks() {
    gMessageBoxHook = AnswerMessageBox;
    gExitWindowsHook = AnswerRestart;
}

std::string ProgramDirectory() {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string text(path, length);
    return text.substr(0, text.find_last_of('\\'));
}

HANDLE StartProgram(const std::string& commandLine, const char* currentDirectory) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDirectory,
                        &startup, &process)) {
        return 0;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

void SetRegistryValue(const std::string& keyPath, const std::string& name, DWORD type,
                      const Bytes& data) {
    HKEY key = 0;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        &key, nullptr) != ERROR_SUCCESS) {
        return;
    }
    RegSetValueExA(key, name.c_str(), 0, type, data.data(), static_cast<DWORD>(data.size()));
    RegCloseKey(key);
}

void SetRegistryString(const std::string& keyPath, const std::string& name,
                       const std::string& text) {
    Bytes data = TextBytes(text);
    data.push_back(0);
    SetRegistryValue(keyPath, name, REG_SZ, data);
}

bool ReadRegistryValue(const std::string& keyPath, const std::string& name, Bytes* data,
                       DWORD* type) {
    HKEY key = 0;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    DWORD valueType = 0;
    bool found =
        RegQueryValueExA(key, name.c_str(), nullptr, &valueType, nullptr, &size) == ERROR_SUCCESS;
    data->assign(size, 0);
    if (found && size > 0) {
        found = RegQueryValueExA(key, name.c_str(), nullptr, &valueType, data->data(), &size) ==
                ERROR_SUCCESS;
    }
    if (type) *type = valueType;
    RegCloseKey(key);
    return found;
}

void DeleteRegistryKey(const std::string& keyPath) {
    RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
}
