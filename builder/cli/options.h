// Command-line options of the builder's commands.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/record_layout.h"

struct BuildOptions {
    std::vector<std::string> oldPaths;  // oldest first
    std::string newPath;
    std::string outputPath;
    std::string stubPath;  // empty: the default applier
    std::string name;      // two single files: the name in the patch
    uint8_t locationKind = kUserPath;
    std::string locationKey;    // e.g. HKEY_LOCAL_MACHINE\Software\Foo
    std::string locationValue;  // empty: the key's default value
    std::string backupName = "BACKUP";
    std::string noticePath, descriptionPath, registryPath;
    std::string checkKey, checkValue;
    std::vector<std::string> optionalPatterns, silentPatterns, excludes;
    std::string timeZone = "utc";
    bool keepObsolete = false;
    bool allowRemovals = false;
    bool followLinks = false;
    bool force = false;
    bool allow64BitStub = false;
    bool stampTimes = true;
    bool zopfli = false;
    bool quiet = false;
    bool verbose = false;
    bool json = false;                 // a summary object (or the error) on standard output
    bool dryRun = false;               // the plan and its sizes; nothing is encoded or written
    bool progress = false;             // show progress even when stderr is no terminal
    std::string regEncoding = "auto";  // of a REGEDIT4 file: auto, utf-8 or cp950
    std::string jobsText;              // --jobs as given; empty: every core
    unsigned jobs = 0;                 // threads that compare files; 0: every core
};

// inspect and verify: the patch (and directory) plus output switches.
struct ReadOptions {
    std::vector<std::string> operands;
    bool json = false;
    bool quiet = false;
    bool verbose = false;
};

// False with a one-line reason for a usage error: an unknown, repeated or
// missing option, or one that the other options would leave unused.
bool ParseBuildOptions(const std::vector<std::string>& args, BuildOptions* o, std::string* error);
bool ParseReadOptions(const std::vector<std::string>& args, size_t operands, ReadOptions* o,
                      std::string* error);
