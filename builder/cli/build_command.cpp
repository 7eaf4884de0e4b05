#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <set>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/cli/options.h"
#include "builder/lib/patch_build.h"
#include "builder/lib/text_cp950.h"

#ifndef MKPATCH_BUILD_STUB
#define MKPATCH_BUILD_STUB "build/windows/app/applier.exe"
#endif
#ifndef MKPATCH_INSTALLED_STUB_DIR
#define MKPATCH_INSTALLED_STUB_DIR ""
#endif

namespace {

namespace fs = std::filesystem;

// Most old files retired at once is more often a wrong --new than a release.
constexpr size_t kRemovalShareDivisor = 2;

bool LoadText(const std::string& path, std::string* cp950, std::string* error) {
    if (path.empty()) return true;
    Bytes bytes;
    if (!ReadFileBytes(path, &bytes, error)) return false;
    return ConvertTextFile(std::string(bytes.begin(), bytes.end()), path, cp950, error);
}

// A ShortString of the patch: code page 950 and at most 255 bytes, never cut.
bool ShortText(const std::string& utf8, const std::string& what, std::string* out,
               std::string* error) {
    size_t bad = 0;
    std::string reason;
    if (!Utf8ToCp950(utf8, out, &bad, &reason)) {
        *error = what + ": " + reason;
        return false;
    }
    if (out->size() > static_cast<size_t>(kShortStringMax)) {
        *error = what + " is " + std::to_string(out->size()) +
                 " bytes in code page 950; at most 255 fit";
        return false;
    }
    return true;
}

bool RegistryKey(const std::string& full, const char* option, uint32_t* root, std::string* path,
                 std::string* error) {
    std::string key;
    if (!SplitKeyPath(full, root, &key)) {
        *error = std::string(option) + ": \"" + full + "\" does not start with a root key";
        return false;
    }
    return ShortText(key, option, path, error);
}

bool LoadRegistry(const BuildOptions& o, PatchSettings* s, std::string* error) {
    Bytes bytes;
    if (!ReadFileBytes(o.registryPath, &bytes, error) ||
        !ParseRegFile(std::string(bytes.begin(), bytes.end()), o.registryPath, &s->registry,
                      error)) {
        return false;
    }
    for (const RegKey& key : s->registry) {
        bool tooLong = key.path.size() > static_cast<size_t>(kShortStringMax);
        for (const RegValue& value : key.values) {
            tooLong = tooLong || value.name.size() > static_cast<size_t>(kShortStringMax);
        }
        if (tooLong) {
            std::string shown;
            Cp950ToUtf8(key.path.substr(0, 40), &shown);
            *error = o.registryPath + ": a key or value name below \"" + shown +
                     "...\" is longer than 255 bytes in code page 950";
            return false;
        }
    }
    // The software counts as registered when the located value exists;
    // another check can be named explicitly.
    RegistryCheck& check = s->registryCheck;
    if (!o.checkKey.empty()) {
        return RegistryKey(o.checkKey, "--registry-check", &check.rootKey, &check.keyPath, error) &&
               ShortText(o.checkValue, "--registry-check-value", &check.valueName, error);
    }
    if (o.locationKind == kRegistryValue) {
        check.rootKey = s->location.rootKey;
        check.keyPath = s->location.keyPath;
        check.valueName = s->location.valueName;
    }
    return true;
}

bool Settings(const BuildOptions& o, PatchSettings* s, std::string* error) {
    s->backupName = o.backupName;
    s->optionalPatterns = o.optionalPatterns;
    s->silentPatterns = o.silentPatterns;
    s->keepObsolete = o.keepObsolete;
    s->stampTimes = o.stampTimes;
    s->zopfli = o.zopfli;
    s->location.kind = o.locationKind;
    if (o.locationKind == kRegistryValue &&
        (!RegistryKey(o.locationKey, "--location-key", &s->location.rootKey, &s->location.keyPath,
                      error) ||
         !ShortText(o.locationValue, "--location-value", &s->location.valueName, error))) {
        return false;
    }
    return LoadText(o.noticePath, &s->notice, error) &&
           LoadText(o.descriptionPath, &s->description, error) &&
           (o.registryPath.empty() || LoadRegistry(o, s, error));
}

// "a, b and c"
std::string ListOfPaths(const std::vector<std::string>& paths) {
    std::string list;
    for (size_t k = 0; k < paths.size(); ++k) {
        if (k > 0) list += k + 1 == paths.size() ? " and " : ", ";
        list += paths[k];
    }
    return list;
}

// Beside the program itself, then where an install puts it below the same
// prefix, then the Windows build of this source tree.
bool LoadStub(const BuildOptions& o, const std::string& programPath, std::string* stubPath,
              Bytes* stub, std::string* error) {
    std::string& path = *stubPath;
    path = o.stubPath;
    if (path.empty()) {
        std::vector<std::string> candidates;
        if (!programPath.empty()) {
            const fs::path folder = fs::u8path(programPath).parent_path();
            candidates.push_back((folder / "applier.exe").u8string());
            if (*MKPATCH_INSTALLED_STUB_DIR != '\0') {
                fs::path installed =
                    folder / fs::u8path(MKPATCH_INSTALLED_STUB_DIR) / "applier.exe";
                candidates.push_back(installed.lexically_normal().u8string());
            }
        }
        candidates.push_back(MKPATCH_BUILD_STUB);
        for (const std::string& c : candidates) {
            if (path.empty() && KindOf(c) == PathKind::kFile) path = c;
        }
        if (path.empty()) {
            *error = "no applier found (looked for " + ListOfPaths(candidates) +
                     "); pass --stub FILE with the applier.exe of the Windows build";
            return false;
        }
    }
    if (!ReadFileBytes(path, stub, error)) return false;
    if (!CheckStub(*stub, o.allow64BitStub, error)) {
        *error = "the stub " + path + " is no applier: " + *error +
                 "; pass --stub FILE with the applier.exe of the Windows build";
        return false;
    }
    return true;
}

// Two directories, or files only: a file against a directory would retire
// every other file of the tree.
bool ReadInputs(const BuildOptions& o, std::vector<Tree>* oldTrees, Tree* newTree,
                std::vector<size_t>* excludeHits, int* exitCode, std::string* error) {
    *exitCode = kExitFailed;
    std::vector<std::string> all = o.oldPaths;
    all.push_back(o.newPath);
    for (const std::string& path : all) {
        PathKind kind = KindOf(path);
        if (kind == PathKind::kMissing || kind == PathKind::kOther) {
            *error = path + (kind == PathKind::kMissing ? ": no such file or directory"
                                                        : ": neither a file nor a directory");
            return false;
        }
    }
    bool files = KindOf(o.newPath) == PathKind::kFile;
    for (const std::string& old : o.oldPaths) {
        if ((KindOf(old) == PathKind::kFile) != files) {
            *error = "--new " + o.newPath + " is a " + (files ? "file" : "directory") +
                     " but --old " + old + " is a " + (files ? "directory" : "file") +
                     "; give files or directories on both sides";
            return false;
        }
    }
    if (!o.name.empty() && !files) {
        *exitCode = kExitUsage;
        *error = "--name applies to single files only";
        return false;
    }
    if (files && (!o.excludes.empty() || o.followLinks || o.allowRemovals)) {
        *exitCode = kExitUsage;
        *error = "--exclude, --follow-links and --allow-removals apply to directories only";
        return false;
    }
    TreeOptions options;
    options.followLinks = o.followLinks;
    options.excludes = o.excludes;
    excludeHits->assign(o.excludes.size(), 0);
    options.excludeHits = excludeHits;
    if (!ParseTimeZone(o.timeZone, &options.zone)) {
        *exitCode = kExitUsage;
        *error = "--time-zone must be utc, local or an offset such as +08:00";
        return false;
    }
    // One file under one name, whatever the two files are called.
    std::string name = o.name.empty() ? fs::u8path(o.newPath).filename().u8string() : o.name;
    oldTrees->resize(o.oldPaths.size());
    for (size_t i = 0; i < o.oldPaths.size(); ++i) {
        if (!(files ? ReadSingleFile(o.oldPaths[i], name, options, &(*oldTrees)[i], error)
                    : ReadTree(o.oldPaths[i], options, &(*oldTrees)[i], error))) {
            return false;
        }
    }
    return files ? ReadSingleFile(o.newPath, name, options, newTree, error)
                 : ReadTree(o.newPath, options, newTree, error);
}

std::string Lower(std::string s) {
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return s;
}

// Checks on what was actually planned, read back from the patch.
bool CheckOutcome(const BuildOptions& o, const std::vector<Tree>& oldTrees, const Tree& newTree,
                  const PatchContents& patch, std::ostream& err, std::string* error) {
    std::set<std::string> oldNames;
    for (const Tree& t : oldTrees) {
        for (const auto& entry : t) oldNames.insert(Lower(entry.first));
    }
    size_t retired = 0;
    std::vector<std::string> changed;
    for (const CurrentRecord& r : patch.records) {
        std::string name;
        Cp950ToUtf8(r.fileName, &name);
        if (r.kind == RecordKind::kObsolete) ++retired;
        if (r.kind == RecordKind::kFile) changed.push_back(name);
    }
    if (retired > 0 && !o.allowRemovals &&
        (newTree.empty() || retired * kRemovalShareDivisor > oldNames.size())) {
        *error = "the new version retires " + std::to_string(retired) + " of " +
                 std::to_string(oldNames.size()) +
                 " old files into the backup; pass --allow-removals if that is meant "
                 "(or --keep-obsolete)";
        return false;
    }
    for (const auto* list : {&o.optionalPatterns, &o.silentPatterns}) {
        for (const std::string& p : *list) {
            bool used = std::any_of(changed.begin(), changed.end(),
                                    [&](const std::string& n) { return MatchesPattern(p, n); });
            if (!used) {
                err << "warning: " << (list == &o.optionalPatterns ? "--optional" : "--silent")
                    << " " << p << " matches no changed file\n";
            }
        }
    }
    if (patch.records.empty()) err << "warning: the patch changes nothing\n";
    return true;
}

void ListRecords(const PatchContents& patch, std::ostream& out) {
    for (const CurrentRecord& r : patch.records) {
        const char* label = nullptr;
        switch (r.kind) {
            case RecordKind::kFile:
                label = "changed  ";
                break;
            case RecordKind::kNewFile:
                label = "new      ";
                break;
            case RecordKind::kObsolete:
                label = "obsolete ";
                break;
            case RecordKind::kRegistry:
            case RecordKind::kEnd:
                continue;
        }
        std::string name;
        Cp950ToUtf8(r.fileName, &name);
        out << "  " << label << name << "\n";
    }
}

}  // namespace

int UsageError(const std::string& message, std::ostream& err) {
    err << "mkpatch: " << message << "\ntry 'mkpatch --help'\n";
    return kExitUsage;
}

std::string JsonText(const std::string& utf8) {
    std::string out = "\"";
    for (char c : utf8) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

int RunBuild(const std::vector<std::string>& args, const std::string& programPath,
             std::ostream& out, std::ostream& err) {
    BuildOptions o;
    std::string error;
    if (!ParseBuildOptions(args, &o, &error)) return UsageError(error, err);
    auto started = std::chrono::steady_clock::now();
    PatchSettings settings;
    Bytes stub;
    std::vector<Tree> oldTrees;
    Tree newTree;
    std::vector<size_t> excludeHits;
    int code = kExitFailed;
    std::vector<std::string> inputs = o.oldPaths;
    for (const std::string* p :
         {&o.newPath, &o.stubPath, &o.noticePath, &o.descriptionPath, &o.registryPath}) {
        if (!p->empty()) inputs.push_back(*p);
    }
    if (!CheckOutputPath(o.outputPath, inputs, o.force, &error)) {
        err << "error: " << error << "\n";
        return kExitFailed;
    }
    if (!ReadInputs(o, &oldTrees, &newTree, &excludeHits, &code, &error)) {
        if (code == kExitUsage) return UsageError(error, err);
        err << "error: " << error << "\n";
        return code;
    }
    // The default stub is an input too.
    std::string stubPath;
    if (!LoadStub(o, programPath, &stubPath, &stub, &error) ||
        !CheckOutputPath(o.outputPath, {stubPath}, true, &error) ||
        !Settings(o, &settings, &error)) {
        err << "error: " << error << "\n";
        return kExitFailed;
    }
    for (size_t k = 0; k < o.excludes.size(); ++k) {
        if (excludeHits[k] == 0)
            err << "warning: --exclude " << o.excludes[k] << " matches nothing\n";
    }
    bool showProgress = !o.quiet && isatty(STDERR_FILENO);
    BuildProgress progress = [&](size_t index, size_t total, const std::string& name) {
        if (!showProgress) return;
        err << "\r\033[K[" << index + 1 << "/" << total << "] " << name << std::flush;
    };
    Bytes patch;
    BuildSummary summary;
    PatchContents contents;
    bool ok = BuildPatch(oldTrees, newTree, settings, stub, progress, &patch, &summary, &error);
    if (showProgress) err << "\r\033[K" << std::flush;
    ok = ok && ReadPatch(patch, &contents, &error) &&
         CheckOutcome(o, oldTrees, newTree, contents, err, &error) &&
         WriteFileAtomically(o.outputPath, patch, &error);
    if (!ok) {
        err << "error: " << error << "\nno patch was written\n";
        return kExitFailed;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (o.verbose) ListRecords(contents, out);
    if (!o.quiet) {
        out << "wrote " << o.outputPath << "\n"
            << "  files changed " << summary.changed << ", new " << summary.added << ", removed "
            << summary.removed << ", registry values " << summary.registryValues << "\n"
            << "  bytes: old versions " << summary.oldBytes << ", new contents " << summary.newBytes
            << ", payload " << summary.payloadBytes << ", patch " << summary.patchBytes
            << " (applier " << summary.stubBytes << " + " << summary.patchBytes - summary.stubBytes
            << ")\n";
        char time[32];
        std::snprintf(time, sizeof time, "%.2f", seconds);
        out << "  checked every version against the new files; " << time << " s\n";
    }
    return kExitOk;
}

int RunCommandLine(const std::vector<std::string>& args, const std::string& programPath,
                   std::ostream& out, std::ostream& err) {
    if (args.empty()) return UsageError("no command given", err);
    for (const std::string& a : args) {
        if (a == "--help" || a == "-h" || args[0] == "help") {
            out << kUsageText;
            return kExitOk;
        }
        if (a == "--version") {
            out << kVersionText;
            return kExitOk;
        }
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    if (args[0] == "build") return RunBuild(rest, programPath, out, err);
    if (args[0] == "inspect") return RunInspect(rest, out, err);
    if (args[0] == "verify") return RunVerify(rest, out, err);
    return UsageError("unknown command \"" + args[0] + "\"", err);
}
