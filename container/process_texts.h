// Process-wide texts that the message placeholders show: %p, %m and %s.
#pragma once
#include <string>

extern std::string gPatchPath;        // full path of the running executable
extern std::string gCurrentFileName;  // file of the record just read
extern std::string gTargetDirectory;  // directory of the section being processed
