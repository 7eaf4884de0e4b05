// Paths of a record and the small path helpers the passes share. For a
// record with FileName N in a section with target T, staging directory S and
// backup name B: S\N is staged, T\N the destination, T\B\N the backup. They
// come from the record and the section's tables, never from where a walk stands.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "container/pass_runner.h"

std::string StagedPath(const SectionTables& sections, int section,
                       const CurrentRecord& record);  // S\N
std::string DestinationPath(const SectionTables& sections, int section,
                            const CurrentRecord& record);  // T\N
std::string BackupPath(const SectionTables& sections, int section,
                       const CurrentRecord& record);  // T\B\N

// True when path names an existing file, whether or not anyone may open it:
// a file held open without sharing still exists and must not be overwritten.
bool PathNamesFile(const std::string& path);

// Removes the empty directories that relative's own directories form below
// top, deepest first; top itself and everything above it stay.
void RemoveEmptyDirectoriesBelow(const std::string& top, const std::string& relative);

// A registry root key stored as u32 (e.g. 0x80000002) as a handle of this
// process's width: the predefined keys are sign-extended values.
HKEY RootKeyHandle(uint32_t storedValue);
