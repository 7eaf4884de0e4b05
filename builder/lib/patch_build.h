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
    // Threads that compare files; 0 = every core the process may use. The
    // patch is the same for every count.
    unsigned jobs = 0;
};

struct BuildSummary {
    size_t changed = 0, added = 0, removed = 0, registryValues = 0;
    uint64_t oldBytes = 0;  // all old versions that differ, summed
    uint64_t newBytes = 0;  // the new contents of changed and new files
    uint64_t payloadBytes = 0;
    uint64_t patchBytes = 0;  // the whole executable
    uint64_t stubBytes = 0;
};

// How far a build is: the file being compared (0-based, of `files`) and the
// bytes of old and new contents compared so far, of `total`. A build that
// compares several files at once reports each through the same callback, one
// call at a time.
struct BuildProgressEvent {
    size_t file = 0, files = 0;
    const std::string* name = nullptr;  // UTF-8; valid during the call only
    uint64_t done = 0, total = 0;
};
using BuildProgress = std::function<void(const BuildProgressEvent&)>;

// The install folder should keep at least this many bytes of the 260 that
// Windows' ANSI file calls take for a path: the applier refuses a patch whose
// paths below the user's folder do not fit.
constexpr size_t kInstallFolderRoom = 100;

// What a build will do, worked out before any delta is encoded: the trees'
// plan, every name in code page 950 and the checks that need no encoding.
struct PatchPlan {
    TreePlan tree;
    std::string backupName;                                           // code page 950
    std::vector<std::string> changedNames, addedNames, removedNames;  // code page 950
    uint64_t bytesToCompare = 0;  // old versions and new contents of every record
    uint64_t newBytes = 0;        // new contents of every record
    // The path that leaves the install folder least room, and that room in
    // bytes; empty when nothing is below the target.
    std::string tightestPath;
    size_t installFolderRoom = 0;
};

bool PlanPatch(const std::vector<Tree>& oldTrees, const Tree& newTree,
               const PatchSettings& settings, PatchPlan* plan, std::string* error);

// Bytes of the 260 that an install folder's full path may take so that every
// path the applier makes for `file` below it fits (the backup, the staging
// folder and its work file included). 0 when none is left.
size_t InstallFolderRoom(const std::string& backupCp950, const std::string& fileCp950);

bool BuildPatch(const std::vector<Tree>& oldTrees, const Tree& newTree,
                const PatchSettings& settings, const Bytes& stub, const BuildProgress& progress,
                Bytes* patch, BuildSummary* summary, std::string* error);

// Name in the patch: code page 950 with '\' separators; false with a reason
// when the name cannot travel safely to the applier.
bool PatchName(const std::string& utf8Name, std::string* cp950, std::string* error);
