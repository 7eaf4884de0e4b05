#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/cli/options.h"
#include "builder/lib/patch_build.h"
#include "builder/lib/text_cp950.h"

namespace {

bool LoadText(const std::string& path, std::string* cp950, std::string* error) {
    if (path.empty()) return true;
    Bytes bytes;
    if (!ReadFileBytes(path, &bytes, error)) return false;
    return ConvertTextFile(std::string(bytes.begin(), bytes.end()), path, cp950, error);
}

bool ToCp950(const std::string& utf8, const std::string& what, std::string* out,
             std::string* error) {
    size_t bad = 0;
    std::string reason;
    if (Utf8ToCp950(utf8, out, &bad, &reason)) return true;
    *error = what + ": " + reason;
    return false;
}

bool Settings(const BuildOptions& o, PatchSettings* s, std::string* error) {
    s->backupName = o.backupName;
    s->optionalPatterns = o.optionalPatterns;
    s->silentPatterns = o.silentPatterns;
    s->keepObsolete = o.keepObsolete;
    s->stampTimes = o.stampTimes;
    s->zopfli = o.zopfli;
    s->location.kind = o.locationKind;
    if (o.locationKind == kRegistryValue) {
        std::string key;
        if (!SplitKeyPath(o.locationKey, &s->location.rootKey, &key)) {
            *error = "--location-key: \"" + o.locationKey + "\" does not start with a root key";
            return false;
        }
        if (!ToCp950(key, "--location-key", &s->location.keyPath, error) ||
            !ToCp950(o.locationValue, "--location-value", &s->location.valueName, error)) {
            return false;
        }
    }
    if (!LoadText(o.noticePath, &s->notice, error) ||
        !LoadText(o.descriptionPath, &s->description, error)) {
        return false;
    }
    if (!o.registryPath.empty()) {
        Bytes bytes;
        if (!ReadFileBytes(o.registryPath, &bytes, error) ||
            !ParseRegFile(std::string(bytes.begin(), bytes.end()), o.registryPath, &s->registry,
                          error)) {
            return false;
        }
        // The software counts as registered when the located value exists;
        // another check can be named explicitly.
        RegistryCheck& check = s->registryCheck;
        if (!o.checkKey.empty()) {
            std::string key;
            if (!SplitKeyPath(o.checkKey, &check.rootKey, &key)) {
                *error = "--registry-check: \"" + o.checkKey + "\" does not start with a root key";
                return false;
            }
            if (!ToCp950(key, "--registry-check", &check.keyPath, error) ||
                !ToCp950(o.checkValue, "--registry-check-value", &check.valueName, error)) {
                return false;
            }
        } else if (o.locationKind == kRegistryValue) {
            check.rootKey = s->location.rootKey;
            check.keyPath = s->location.keyPath;
            check.valueName = s->location.valueName;
        }
    }
    return true;
}

std::string DefaultStub(const std::string& programPath) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path beside = fs::u8path(programPath).parent_path() / "applier.exe";
    if (fs::exists(beside, ec)) return beside.u8string();
    return "build/windows/app/applier.exe";
}

}  // namespace

int RunBuild(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    BuildOptions o;
    std::string error;
    if (!ParseBuildOptions(args, &o, &error)) {
        err << "error: " << error << "\n" << kUsageText;
        return kExitUsage;
    }
    auto started = std::chrono::steady_clock::now();
    PatchSettings settings;
    Bytes stub;
    std::vector<Tree> oldTrees(o.oldPaths.size());
    Tree newTree;
    if (!Settings(o, &settings, &error) || !ReadFileBytes(o.stubPath, &stub, &error)) {
        err << "error: " << error << "\n";
        return kExitFailed;
    }
    for (size_t i = 0; i < o.oldPaths.size(); ++i) {
        if (!ReadTree(o.oldPaths[i], &oldTrees[i], &error)) {
            err << "error: " << error << "\n";
            return kExitFailed;
        }
    }
    if (!ReadTree(o.newPath, &newTree, &error)) {
        err << "error: " << error << "\n";
        return kExitFailed;
    }
    bool showProgress = !o.quiet && isatty(STDERR_FILENO);
    BuildProgress progress = [&](size_t index, size_t total, const std::string& name) {
        if (!showProgress) return;
        err << "\r\033[K[" << index + 1 << "/" << total << "] " << name << std::flush;
    };
    Bytes patch;
    BuildSummary summary;
    bool ok = BuildPatch(oldTrees, newTree, settings, stub, progress, &patch, &summary, &error);
    if (showProgress) err << "\r\033[K" << std::flush;
    if (!ok || !WriteFileAtomically(o.outputPath, patch, &error)) {
        err << "error: " << error << "\nno patch was written\n";
        return kExitFailed;
    }
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
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
    if (args.empty() || args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
        (args.empty() ? err : out) << kUsageText;
        return args.empty() ? kExitUsage : kExitOk;
    }
    std::vector<std::string> rest(args.begin() + 1, args.end());
    for (const std::string& a : rest) {
        if (a == "--help" || a == "-h") {
            out << kUsageText;
            return kExitOk;
        }
    }
    if (args[0] == "build") {
        bool hasStub = false;
        for (const std::string& a : rest) hasStub = hasStub || a == "--stub";
        if (!hasStub) {
            rest.push_back("--stub");
            rest.push_back(DefaultStub(programPath));
        }
        return RunBuild(rest, out, err);
    }
    if (args[0] == "inspect") return RunInspect(rest, out, err);
    if (args[0] == "verify") return RunVerify(rest, out, err);
    err << "error: unknown command \"" << args[0] << "\"\n" << kUsageText;
    return kExitUsage;
}
