#include "tests/engine/engine_harness.h"

#include <fstream>
#include <iterator>

#include "messages/catalogue.h"
#include "platform/file_primitives.h"
#include "platform/system_hooks.h"

RestartAnswer gRestart;

namespace {

constexpr DWORD kLongestProgramMs = 60000;  // never outlive a test that died
constexpr DWORD kLargestRegistryValue = 1 << 16;

void Collect(const std::string& root, const std::string& relative, FileTree* tree) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "\\" + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = relative + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*tree)[path + "\\"] = Bytes();
            Collect(root, path + "\\", tree);
        } else {
            (*tree)[path] = ReadFileBytes(root + "\\" + path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

BOOL AnswerRestart(UINT, DWORD) {
    ++gRestart.restarts;
    return gRestart.succeeds;
}

}  // namespace

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes PseudoRandomBytes(size_t count, uint32_t seed) {
    Bytes bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

Bytes ScatteredChange(const Bytes& data, size_t spacing) {
    Bytes changed = data;
    for (size_t i = spacing / 2; i < changed.size(); i += spacing) changed[i] ^= 0x5A;
    return changed;
}

bool WriteFileBytes(const std::string& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MakeScratchDirectory(const std::string& label) {
    static int counter = 0;
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
        const std::string path = root + "\\" + relative;
        MakeParentDirectories(path);
        if (relative.back() != '\\') WriteFileBytes(path, content);
    }
}

FileTree ReadTree(const std::string& root) {
    FileTree tree;
    Collect(root, "", &tree);
    return tree;
}

void RemoveTree(const std::string& root) {
    const FileTree tree = ReadTree(root);
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
        const std::string path = root + "\\" + it->first;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
    }
    RemoveDirectoryA(root.c_str());
}

// The stream lives in a self-deleting temporary file, like an extracted payload.
void LoadPatchStream(OpenedPatch* patch, const Bytes& stream) {
    patch->payload.Reset(CreateTempStreamFile());
    WriteBlock(patch->payload.handle(), stream.data(), static_cast<uint32_t>(stream.size()));
    patch->payload.Seek(0);
    patch->recordsStart = 0;
}

// Counted in the whole log, since the pane wraps a long text over several entries.
int FakeHost::LogCount(int number) const {
    std::string needle = MessageText(number), all;
    for (size_t at; (at = needle.find("%n")) != std::string::npos;) needle.erase(at, 2);
    for (const std::string& entry : log) all += entry;
    int found = 0;
    for (size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) {
        ++found;
    }
    return found;
}

void InstallRestartHook() { gExitWindowsHook = AnswerRestart; }

std::string ProgramDirectory() {
    char path[MAX_PATH];
    const std::string text(path, GetModuleFileNameA(nullptr, path, MAX_PATH));
    return text.substr(0, text.find_last_of('\\'));
}

DWORD RunProgram(const std::string& commandLine, const char* currentDirectory) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    DWORD exitCode = ~0u;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDirectory,
                        &startup, &process)) {
        return exitCode;
    }
    WaitForSingleObject(process.hProcess, kLongestProgramMs);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return exitCode;
}

void SetRegistryValue(const std::string& keyPath, const std::string& name, const Bytes& data,
                      DWORD type) {
    RegSetKeyValueA(HKEY_CURRENT_USER, keyPath.c_str(), name.c_str(), type, data.data(),
                    static_cast<DWORD>(data.size()));
}

Bytes RegistryValue(const std::string& keyPath, const std::string& name) {
    DWORD size = kLargestRegistryValue;
    Bytes data(size);
    if (RegGetValueA(HKEY_CURRENT_USER, keyPath.c_str(), name.c_str(), RRF_RT_ANY | RRF_NOEXPAND,
                     nullptr, data.data(), &size) != ERROR_SUCCESS) {
        return TextBytes("<missing>");
    }
    data.resize(size);
    return data;
}

void DeleteRegistryKey(const std::string& keyPath) {
    RegDeleteTreeA(HKEY_CURRENT_USER, keyPath.c_str());
}
