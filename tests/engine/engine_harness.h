// Real directories, a patch stream as the payload file, a hidden window and
// answered message boxes: what a run of the engine needs, for the tests and
// their helper processes.
#pragma once
#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "builder/lib/payload_writer.h"

// Relative path -> content; a directory is its path with a trailing '\'.
using FileTree = std::map<std::string, Bytes>;

Bytes TextBytes(const std::string& text);
std::string MakeScratchDirectory(const std::string& label);
void WriteTree(const std::string& root, const FileTree& tree);
FileTree ReadTree(const std::string& root);
void RemoveTree(const std::string& root);
bool PathExists(const std::string& path);

// Writes the stream into a file and makes it the payload the engine reads.
void LoadPatchStream(const Bytes& stream);
void CloseLoadedPatch();

// A hidden main window with the path box and the log pane.
void CreateHiddenWindow();
std::string PathBoxText();
// The whole log as one text; true when it holds message number's text.
std::string LogText();
bool LogHolds(int number);
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

// Directory of the running executable, where the helper programs lie.
std::string ProgramDirectory();
// Starts a program and returns its process handle (0 on failure).
HANDLE StartProgram(const std::string& commandLine, const char* currentDirectory = nullptr);

// Registry values for the tests, under a key the test owns.
constexpr uint32_t kCurrentUserRoot = 0x80000001u;  // as a patch stores it
void SetRegistryValue(const std::string& keyPath, const std::string& name, DWORD type,
                      const Bytes& data);
void SetRegistryString(const std::string& keyPath, const std::string& name,
                       const std::string& text);
bool ReadRegistryValue(const std::string& keyPath, const std::string& name, Bytes* data,
                       DWORD* type = nullptr);
void DeleteRegistryKey(const std::string& keyPath);
