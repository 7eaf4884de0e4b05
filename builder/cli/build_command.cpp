#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <streambuf>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/cli/options.h"
#include "builder/cli/progress.h"
#include "builder/lib/parallel.h"
#include "builder/lib/patch_build.h"
#include "builder/lib/stub_signature.h"
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

// Room beyond the applier that a patch takes at least (header, records).
constexpr uint64_t kLeastPayloadBytes = 4096;

// Warnings go to standard error as they arise and are kept for --json.
struct Warnings {
    std::ostream& err;
    std::vector<std::string> texts;
    void Add(const std::string& text) {
        err << "warning: " << text << "\n";
        texts.push_back(text);
    }
};

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

RegEncoding RegEncodingOf(const std::string& name) {
    if (name == "utf-8") return RegEncoding::kUtf8;
    return name == "cp950" ? RegEncoding::kCp950 : RegEncoding::kAuto;
}

bool LoadRegistry(const BuildOptions& o, PatchSettings* s, std::string* error) {
    Bytes bytes;
    if (!ReadFileBytes(o.registryPath, &bytes, error) ||
        !ParseRegFile(std::string(bytes.begin(), bytes.end()), o.registryPath, &s->registry, error,
                      RegEncodingOf(o.regEncoding))) {
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
    s->jobs = o.jobs;
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
              Bytes* stub, Warnings* warnings, std::string* error) {
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
    // A signature of the bare applier signs nothing in a patch and spoils the
    // one the patch gets afterwards.
    uint32_t removed = 0;
    switch (StripStubSignature(stub, &removed)) {
        case StubSignature::kUnsigned:
            break;
        case StubSignature::kStripped:
            warnings->Add("the stub " + path + " is signed; its certificate table (" +
                          std::to_string(removed) +
                          " bytes) is left out of the patch: sign the finished patch instead");
            break;
    }
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
                std::vector<size_t>* excludeHits, Warnings* warnings, int* exitCode,
                std::string* error) {
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
    // One file under one name: the old file's, which is the one on the
    // user's machine, unless --name says otherwise.
    std::string name = o.name;
    if (files && name.empty()) {
        name = fs::u8path(o.oldPaths.back()).filename().u8string();
        for (const std::string& old : o.oldPaths) {
            if (fs::u8path(old).filename().u8string() != name) {
                *exitCode = kExitUsage;
                *error = "the --old files have different names (" +
                         fs::u8path(old).filename().u8string() + ", " + name +
                         "); say with --name which one the patch upgrades";
                return false;
            }
        }
        const std::string newName = fs::u8path(o.newPath).filename().u8string();
        if (newName != name) {
            warnings->Add("the patched file keeps the old file's name " + name + " (not " +
                          newName + "); --name sets another");
        }
    }
    TimeZoneRule zone;
    if (!ParseTimeZone(o.timeZone, &zone)) {
        *exitCode = kExitUsage;
        *error = "--time-zone must be utc, local or an offset such as +08:00";
        return false;
    }
    // The trees are read side by side, each with its own notes; what they
    // report is taken in the order of the command line.
    const size_t count = all.size();
    std::vector<Tree> trees(count);
    std::vector<std::vector<std::string>> notes(count);
    std::vector<std::vector<size_t>> hits(count, std::vector<size_t>(o.excludes.size(), 0));
    std::vector<std::string> errors(count);
    std::vector<char> read(count, 0);
    const std::function<void(size_t)> readTree = [&](size_t i) {
        TreeOptions options;
        options.followLinks = o.followLinks;
        options.excludes = o.excludes;
        options.zone = zone;
        options.warnings = &notes[i];
        options.excludeHits = &hits[i];
        read[i] = files ? ReadSingleFile(all[i], name, options, &trees[i], &errors[i])
                        : ReadTree(all[i], options, &trees[i], &errors[i]);
    };
    ParallelFor(count, o.jobs == 0 ? AvailableCores() : o.jobs, readTree, nullptr);
    excludeHits->assign(o.excludes.size(), 0);
    for (size_t i = 0; i < count; ++i) {
        if (!read[i]) {
            *error = errors[i];
            return false;
        }
        for (const std::string& w : notes[i]) warnings->Add(w);
        for (size_t k = 0; k < hits[i].size(); ++k) (*excludeHits)[k] += hits[i][k];
    }
    *newTree = std::move(trees.back());
    trees.pop_back();
    *oldTrees = std::move(trees);
    return true;
}

std::string Lower(std::string s) {
    for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return s;
}

// Checks on the plan that the options ask for.
bool CheckOutcome(const BuildOptions& o, const std::vector<Tree>& oldTrees, const Tree& newTree,
                  const PatchPlan& plan, Warnings* warnings, std::string* error) {
    std::set<std::string> oldNames;
    for (const Tree& t : oldTrees) {
        for (const auto& entry : t) oldNames.insert(Lower(entry.first));
    }
    const size_t retired = plan.tree.removed.size();
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
            bool used =
                std::any_of(plan.tree.changed.begin(), plan.tree.changed.end(),
                            [&](const PlannedChange& c) { return MatchesPattern(p, c.name); });
            if (!used) {
                warnings->Add(std::string(list == &o.optionalPatterns ? "--optional" : "--silent") +
                              " " + p + " matches no changed file");
            }
        }
    }
    for (const auto& [before, after] : plan.tree.caseRenames) {
        warnings->Add("\"" + before + "\" becomes \"" + after +
                      "\", a change of case only: Windows takes them for one file, and a file "
                      "that does not change keeps its old spelling on the user's machine");
    }
    if (!plan.tightestPath.empty() && plan.installFolderRoom < kInstallFolderRoom) {
        std::string name;
        Cp950ToUtf8(plan.tightestPath, &name);
        warnings->Add("\"" + name + "\" leaves " + std::to_string(plan.installFolderRoom) +
                      " of the 260 bytes Windows allows a path for the install folder (its "
                      "backup and staging paths counted); the patch fails under a deeper folder");
    }
    const bool empty = plan.tree.changed.empty() && plan.tree.added.empty() && retired == 0;
    if (empty && o.registryPath.empty()) warnings->Add("the patch changes nothing");
    return true;
}

// How the summary names a record's kind; null for records it does not list.
const char* ListedKind(RecordKind kind) {
    return NamesTargetFile(kind) ? RecordKindName(kind) : nullptr;
}

void ListRecords(const PatchContents& patch, std::ostream& out) {
    constexpr size_t kLabelWidth = 9;
    for (const CurrentRecord& r : patch.records) {
        const char* label = ListedKind(r.kind);
        if (label == nullptr) continue;
        std::string name;
        Cp950ToUtf8(r.fileName, &name);
        std::string padded = label;
        padded.resize(kLabelWidth, ' ');
        out << "  " << padded << name << "\n";
    }
}

std::string JsonList(const std::vector<std::string>& texts) {
    std::string out = "[";
    for (size_t i = 0; i < texts.size(); ++i) out += (i ? "," : "") + JsonText(texts[i]);
    return out + "]";
}

size_t RegistryValues(const PatchSettings& settings) {
    size_t n = 0;
    for (const RegKey& key : settings.registry) n += key.values.size();
    return n;
}

// The plan of a dry run: every record with its sizes, nothing encoded.
void ShowPlan(const BuildOptions& o, const PatchPlan& plan, const PatchSettings& settings,
              const std::string& stubPath, size_t stubBytes, const Warnings& warnings,
              std::ostream& out) {
    const TreePlan& t = plan.tree;
    uint64_t oldBytes = 0;
    if (o.json) {
        out << "{\"dry_run\":true,\"output\":" << JsonText(o.outputPath)
            << ",\"stub\":{\"path\":" << JsonText(stubPath) << ",\"bytes\":" << stubBytes
            << "},\"records\":[";
    } else {
        out << "dry run: nothing is written\n";
    }
    size_t n = 0;
    for (const PlannedChange& c : t.changed) {
        std::string sizes;
        for (const Bytes* v : c.versions) {
            sizes += (sizes.empty() ? "" : ",") + std::to_string(v->size());
            oldBytes += v->size();
        }
        if (o.json) {
            out << (n++ ? "," : "") << "{\"kind\":\"changed\",\"name\":" << JsonText(c.name)
                << ",\"old_sizes\":[" << sizes << "],\"size\":" << c.newer->content.size() << "}";
        } else {
            out << "  changed  " << c.name << "  " << c.versions.size() << " old version"
                << (c.versions.size() == 1 ? "" : "s") << " (" << sizes << " bytes) to "
                << c.newer->content.size() << " bytes\n";
        }
    }
    for (const PlannedNewFile& a : t.added) {
        if (o.json) {
            out << (n++ ? "," : "") << "{\"kind\":\"new\",\"name\":" << JsonText(a.name)
                << ",\"size\":" << a.file->content.size() << "}";
        } else {
            out << "  new      " << a.name << "  " << a.file->content.size() << " bytes\n";
        }
    }
    for (const std::string& r : t.removed) {
        if (o.json) {
            out << (n++ ? "," : "") << "{\"kind\":\"obsolete\",\"name\":" << JsonText(r) << "}";
        } else {
            out << "  obsolete " << r << "\n";
        }
    }
    if (o.json) {
        out << "],\"totals\":{\"changed\":" << t.changed.size() << ",\"new\":" << t.added.size()
            << ",\"removed\":" << t.removed.size()
            << ",\"registry_values\":" << RegistryValues(settings) << ",\"old_bytes\":" << oldBytes
            << ",\"new_bytes\":" << plan.newBytes << "},\"warnings\":" << JsonList(warnings.texts)
            << "}\n";
        return;
    }
    out << "  stub " << stubPath << " (" << stubBytes << " bytes)\n"
        << "  files changed " << t.changed.size() << ", new " << t.added.size() << ", removed "
        << t.removed.size() << ", registry values " << RegistryValues(settings) << "\n"
        << "  bytes: old versions " << oldBytes << ", new contents " << plan.newBytes << "\n";
}

void ShowBuilt(const BuildOptions& o, const BuildSummary& summary, const PatchContents& contents,
               const std::string& stubPath, double seconds, const Warnings& warnings,
               std::ostream& out) {
    char time[32];
    std::snprintf(time, sizeof time, "%.2f", seconds);
    if (o.json) {
        out << "{\"dry_run\":false,\"output\":" << JsonText(o.outputPath)
            << ",\"stub\":{\"path\":" << JsonText(stubPath) << ",\"bytes\":" << summary.stubBytes
            << "},\"records\":[";
        size_t n = 0;
        for (const CurrentRecord& r : contents.records) {
            const char* kind = ListedKind(r.kind);
            if (kind == nullptr) continue;
            std::string name;
            Cp950ToUtf8(r.fileName, &name);
            out << (n++ ? "," : "") << "{\"kind\":\"" << kind << "\",\"name\":" << JsonText(name)
                << "}";
        }
        out << "],\"totals\":{\"changed\":" << summary.changed << ",\"new\":" << summary.added
            << ",\"removed\":" << summary.removed
            << ",\"registry_values\":" << summary.registryValues
            << ",\"old_bytes\":" << summary.oldBytes << ",\"new_bytes\":" << summary.newBytes
            << ",\"payload_bytes\":" << summary.payloadBytes
            << ",\"patch_bytes\":" << summary.patchBytes << "},\"seconds\":" << time
            << ",\"warnings\":" << JsonList(warnings.texts) << "}\n";
        return;
    }
    if (o.verbose) ListRecords(contents, out);
    if (o.quiet) return;
    out << "wrote " << o.outputPath << "\n"
        << "  files changed " << summary.changed << ", new " << summary.added << ", removed "
        << summary.removed << ", registry values " << summary.registryValues << "\n"
        << "  bytes: old versions " << summary.oldBytes << ", new contents " << summary.newBytes
        << ", payload " << summary.payloadBytes << ", patch " << summary.patchBytes << " (applier "
        << summary.stubBytes << " + " << summary.patchBytes - summary.stubBytes << ")\n"
        << "  checked every version against the new files; " << time << " s\n";
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
    const auto fail = [&](const std::string& message) {
        err << "error: " << message << "\n" << (o.dryRun ? "" : "no patch was written\n");
        return kExitFailed;
    };
    Warnings warnings{err, {}};
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
    const bool writes = !o.dryRun;
    std::string notice;
    // A directory that cannot take the patch is found before the long work.
    if (!o.outputPath.empty() &&
        (!CheckOutputPath(o.outputPath, inputs, o.force, &error) ||
         (writes && !CheckOutputDirectory(o.outputPath, 0, 0, &notice, &error)))) {
        return fail(error);
    }
    if (!ReadInputs(o, &oldTrees, &newTree, &excludeHits, &warnings, &code, &error)) {
        if (code == kExitUsage) return UsageError(error, err);
        return fail(error);
    }
    // The default stub is an input too.
    std::string stubPath;
    if (!LoadStub(o, programPath, &stubPath, &stub, &warnings, &error) ||
        (!o.outputPath.empty() && !CheckOutputPath(o.outputPath, {stubPath}, true, &error)) ||
        !Settings(o, &settings, &error)) {
        return fail(error);
    }
    if (o.verbose) out << "stub: " << stubPath << " (" << stub.size() << " bytes)\n";
    for (size_t k = 0; k < o.excludes.size(); ++k) {
        if (excludeHits[k] == 0) warnings.Add("--exclude " + o.excludes[k] + " matches nothing");
    }
    PatchPlan plan;
    if (!PlanPatch(oldTrees, newTree, settings, &plan, &error) ||
        !CheckOutcome(o, oldTrees, newTree, plan, &warnings, &error)) {
        return fail(error);
    }
    if (o.dryRun) {
        ShowPlan(o, plan, settings, stubPath, stub.size(), warnings, out);
        return kExitOk;
    }
    // At least the applier must fit; a patch is rarely larger than the new
    // contents it carries.
    const uint64_t least = stub.size() + kLeastPayloadBytes;
    if (!CheckOutputDirectory(o.outputPath, least, least + plan.newBytes, &notice, &error)) {
        return fail(error);
    }
    if (!notice.empty()) warnings.Add(notice);
    ProgressLine line(err, o.progress || (!o.quiet && isatty(STDERR_FILENO)));
    BuildProgress progress = [&](const BuildProgressEvent& e) { line.Update(e); };
    Bytes patch;
    BuildSummary summary;
    PatchContents contents;
    bool ok = BuildPatch(oldTrees, newTree, settings, stub, progress, &patch, &summary, &error);
    line.Clear();
    ok = ok && ReadPatch(patch, &contents, &error) &&
         WriteFileAtomically(o.outputPath, patch, o.force, &error);
    if (!ok) return fail(error);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ShowBuilt(o, summary, contents, stubPath, seconds, warnings, out);
    return kExitOk;
}

namespace {

// Forwards to another stream and keeps a copy, so that what a command said
// on standard error can also be given as JSON.
class RecordingBuffer : public std::streambuf {
  public:
    explicit RecordingBuffer(std::ostream& to) : to_(to) {}
    const std::string& text() const { return text_; }

  protected:
    int overflow(int c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        text_.push_back(static_cast<char>(c));
        to_.put(static_cast<char>(c));
        return c;
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        text_.append(s, static_cast<size_t>(n));
        to_.write(s, n);
        return n;
    }
    int sync() override {
        to_.flush();
        return 0;
    }

  private:
    std::ostream& to_;
    std::string text_;
};

// The error lines of a failed command's standard error: from its first
// "error:" or usage line on, without warnings, hints and progress.
std::string ErrorText(const std::string& said) {
    std::string text;
    bool started = false;
    size_t start = 0;
    while (start < said.size()) {
        size_t end = said.find('\n', start);
        if (end == std::string::npos) end = said.size();
        std::string line = said.substr(start, end - start);
        start = end + 1;
        size_t cr = line.rfind('\r');
        if (cr != std::string::npos) line.erase(0, cr + 1);
        if (line.compare(0, 3, "\033[K") == 0) line.erase(0, 3);
        for (const char* prefix : {"error: ", "mkpatch: "}) {
            if (line.compare(0, std::strlen(prefix), prefix) == 0) {
                line.erase(0, std::strlen(prefix));
                started = true;
            }
        }
        if (!started || line.empty() || line.compare(0, 9, "warning: ") == 0 ||
            line == "try 'mkpatch --help'" || line == "no patch was written") {
            continue;
        }
        text += (text.empty() ? "" : "\n") + line;
    }
    return text;
}

}  // namespace

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
    // Under --json a failure is a JSON object on standard output too, for
    // programs that read only that; people still read standard error.
    const bool json = std::find(rest.begin(), rest.end(), "--json") != rest.end();
    RecordingBuffer recorded(err);
    std::ostream said(&recorded);
    std::ostream& errors = json ? said : err;
    int code = kExitUsage;
    if (args[0] == "build") {
        code = RunBuild(rest, programPath, out, errors);
    } else if (args[0] == "inspect") {
        code = RunInspect(rest, out, errors);
    } else if (args[0] == "verify") {
        code = RunVerify(rest, out, errors);
    } else {
        return UsageError("unknown command \"" + args[0] + "\"", err);
    }
    said.flush();
    if (json && (code == kExitFailed || code == kExitUsage)) {
        out << "{\"error\":" << JsonText(ErrorText(recorded.text())) << ",\"exit_code\":" << code
            << "}\n";
    }
    return code;
}
