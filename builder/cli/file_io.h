// The builder's file system side: reading trees and files, writing the patch
// so that a failed or interrupted run never leaves a half-written file.
#pragma once
#include <ostream>
#include <string>

#include "builder/lib/patch_reader.h"
#include "builder/lib/tree_plan.h"

bool ReadFileBytes(const std::string& path, Bytes* out, std::string* error);

// Reads and parses a patch executable; on failure says why on err.
bool ReadPatchFile(const std::string& path, PatchContents* patch, std::ostream& err);

// A directory becomes every regular file below it, by relative name with '/'
// separators; a single file becomes a tree holding that file by its own name.
bool ReadTree(const std::string& path, Tree* tree, std::string* error);

// Writes to a temporary name beside path and renames it into place at the end;
// on any failure the temporary file is removed and path is left as it was.
bool WriteFileAtomically(const std::string& path, const Bytes& data, std::string* error);

// Local DOS date/time (date high, time low) of a file's last write, 0 if unknown.
uint32_t FileDosTime(const std::string& path);
