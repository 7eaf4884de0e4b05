// Files and directory trees on the Windows side, as the tests, the demo
// driver and the campaigns set them up and read them back.
#pragma once
#include <windows.h>

#include <cstdint>
#include <map>
#include <string>

#include "builder/lib/payload_writer.h"  // Bytes

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
