#include "tests/engine/engine_harness.h"

#include "messages/catalogue.h"
#include "platform/file_primitives.h"
#include "platform/system_hooks.h"

RestartAnswer gRestart;

namespace {

constexpr DWORD kLongestProgramMs = 60000;  // never outlive a test that died
constexpr DWORD kLargestRegistryValue = 1 << 16;

BOOL AnswerRestart(UINT, DWORD) {
    ++gRestart.restarts;
    return gRestart.succeeds;
}

}  // namespace

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
