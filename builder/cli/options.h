// Command-line options of the build command.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/record_layout.h"

struct BuildOptions {
    std::vector<std::string> oldPaths;  // oldest first
    std::string newPath;
    std::string outputPath;
    std::string stubPath;
    uint8_t locationKind = kUserPath;
    std::string locationKey;    // e.g. HKEY_LOCAL_MACHINE\Software\Foo
    std::string locationValue;  // empty: the key's default value
    std::string backupName = "BACKUP";
    std::string noticePath, descriptionPath, registryPath;
    std::string checkKey, checkValue;
    std::vector<std::string> optionalPatterns, silentPatterns;
    bool keepObsolete = false;
    bool stampTimes = true;
    bool zopfli = false;
    bool quiet = false;
};

bool ParseBuildOptions(const std::vector<std::string>& args, BuildOptions* o, std::string* error);
