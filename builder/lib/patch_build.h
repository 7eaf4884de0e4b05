// Builds a complete patch in memory: plans the trees, encodes every delta,
// writes records and payload, compresses it behind the stub, and reads the
// result back to check every file of every known version before returning.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "builder/lib/delta_encoder.h"
#include "builder/lib/reg_file.h"
#include "builder/lib/tree_plan.h"

constexpr uint32_t kRegistryDataCapacity = 1001;  // the applier's value buffer

struct RegistryCheck {
    uint32_t rootKey = 0;
    std::string keyPath;    // code page 950
    std::string valueName;  // code page 950
};

struct PatchSettings {
    LocationSpec location;  // texts in code page 950
    std::string backupName = "BACKUP";
    std::string notice;       // code page 950, NUL-separated lines
    std::string description;  // code page 950, NUL-separated lines
    std::vector<std::string> optionalPatterns;
    std::vector<std::string> silentPatterns;  // silent implies optional
    bool keepObsolete = false;
    bool stampTimes = true;
    std::vector<RegKey> registry;
    RegistryCheck registryCheck;
    EncodeOptions encode;
    bool zopfli = false;
};

struct BuildSummary {
    size_t changed = 0, added = 0, removed = 0, registryValues = 0;
    uint64_t oldBytes = 0;  // all old versions that differ, summed
    uint64_t newBytes = 0;  // the new contents of changed and new files
    uint64_t payloadBytes = 0;
    uint64_t patchBytes = 0;  // the whole executable
    uint64_t stubBytes = 0;
};

// Called before each file is encoded: index, total, name.
using BuildProgress = std::function<void(size_t, size_t, const std::string&)>;

bool BuildPatch(const std::vector<Tree>& oldTrees, const Tree& newTree,
                const PatchSettings& settings, const Bytes& stub, const BuildProgress& progress,
                Bytes* patch, BuildSummary* summary, std::string* error);

// Name in the patch: code page 950 with '\' separators; false with a reason
// when the name cannot travel safely to the applier.
bool PatchName(const std::string& utf8Name, std::string* cp950, std::string* error);
