// Real directories, a patch stream as the payload file, a hidden window and
// answered message boxes: what a run of the engine needs, for the tests and
// their helper processes.
#pragma once
#include <windows.h>

#include <map>
#include <string>

#include "builder/lib/payload_writer.h"

// Relative path -> content; a directory is its path with a trailing '\'.
using FileTree = std::map<std::string, Bytes>;

Bytes TextBytes(const std::string& text);
Bytes PseudoRandomBytes(size_t count, uint32_t seed);
// A copy of data with one byte changed every `spacing` bytes.
Bytes ScatteredChange(const Bytes& data, size_t spacing);
Bytes ReadFileBytes(const std::string& path);
bool WriteFileBytes(const std::string& path, const Bytes& content);
std::string MakeScratchDirectory(const std::string& label);
void WriteTree(const std::string& root, const FileTree& tree);
FileTree ReadTree(const std::string& root);
void RemoveTree(const std::string& root);

// Writes the stream into a file and makes it the payload the engine reads.
void LoadPatchStream(const Bytes& stream);
void CloseLoadedPatch();

// A hidden main window with the path box and the log pane.
void CreateHiddenWindow();
// How often the log holds message number's text.
int LogCount(int number);

// Answers for the restart question and the restart itself.
struct HookAnswers {
    int messageBoxAnswer = IDNO;
    BOOL restartSucceeds = FALSE;
    int questions = 0;
    int restarts = 0;
};
extern HookAnswers gAnswers;
void InstallHooks();

// Starts a program of the executable's own directory (or of the path) and
// waits for its end; the exit code, or ~0 when it could not start.
DWORD RunProgram(const std::string& commandLine, const char* currentDirectory = nullptr);
std::string ProgramDirectory();

// Registry values for the tests, under HKEY_CURRENT_USER keys the tests own.
constexpr uint32_t kCurrentUserRoot = 0x80000001u;  // as a patch stores it
void SetRegistryValue(const std::string& keyPath, const std::string& name, const Bytes& data,
                      DWORD type = REG_SZ);
// The value's data, or the text "<missing>".
Bytes RegistryValue(const std::string& keyPath, const std::string& name);
void DeleteRegistryKey(const std::string& keyPath);
