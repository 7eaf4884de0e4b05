#include <filesystem>
#include <map>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/cli/options.h"
#include "builder/lib/patch_check.h"
#include "builder/lib/text_cp950.h"
#include "core/windows_names.h"

namespace {

namespace fs = std::filesystem;

// Windows' comparison of names, on their code page 950 form: a name on the
// disk that code page 950 cannot hold is no name the patch can carry.
bool LookupKey(const std::string& utf8, std::string* key) {
    std::string cp950, what;
    size_t bad = 0;
    if (!Utf8ToCp950(utf8, &cp950, &bad, &what)) return false;
    *key = WindowsNameKey(cp950);
    return true;
}

// Every file below the directory by lookup key of its relative UTF-8 name.
bool IndexDirectory(const fs::path& root, std::map<std::string, fs::path>* index, std::ostream& err,
                    std::string* error) {
    std::error_code ec;
    const auto options = fs::directory_options::skip_permission_denied;
    for (fs::recursive_directory_iterator it(root, options, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_regular_file(ignored)) continue;
        std::string key;
        if (!LookupKey(it->path().lexically_relative(root).generic_u8string(), &key)) continue;
        auto added = index->emplace(key, it->path());
        if (!added.second) {
            err << "warning: " << added.first->second.u8string() << " and " << it->path().u8string()
                << " are one file on Windows; only the first is checked\n";
        }
    }
    if (ec) *error = root.u8string() + ": " + ec.message();
    return !ec;
}

// The directory's full path as the applier would see it there, for the path
// lengths: on Windows its own; elsewhere the one Wine gives it (drive Z:).
std::string ApplierFullPath(const fs::path& directory) {
    std::error_code ec;
    std::string utf8 = fs::absolute(directory, ec).lexically_normal().u8string();
#ifndef _WIN32
    utf8 = "Z:" + utf8;
    for (char& c : utf8) c = c == '/' ? '\\' : c;
#endif
    if (utf8.size() > 3 && utf8.back() == '\\') utf8.pop_back();
    std::string cp950, what;
    size_t bad = 0;
    return Utf8ToCp950(utf8, &cp950, &bad, &what) ? cp950 : utf8;
}

}  // namespace

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ReadOptions o;
    std::string error;
    if (!ParseReadOptions(args, 2, &o, &error)) return UsageError(error, err);
    if (KindOf(o.operands[1]) != PathKind::kDirectory) {
        err << "error: " << o.operands[1] << ": not a directory\n";
        return kExitFailed;
    }
    PatchContents patch;
    if (!ReadPatchFile(o.operands[0], &patch, err)) return kExitFailed;
    std::map<std::string, fs::path> index;
    if (!IndexDirectory(fs::u8path(o.operands[1]), &index, err, &error)) {
        err << "error: " << error << "\n";
        return kExitFailed;
    }
    // Names in the patch are code page 950; the disk holds UTF-8.
    TargetReader read = [&](const std::string& name, Bytes* content) {
        auto found = index.find(WindowsNameKey(name));
        std::string ignored;
        return found != index.end() && ReadFileBytes(found->second.u8string(), content, &ignored);
    };
    // A directory is known by the files below it; an empty one is no
    // obstacle, since the applier removes it. Names relative to it.
    TargetLister list = [&](const std::string& directory, std::vector<std::string>* files) {
        const std::string prefix = WindowsNameKey(directory) + "\\";
        for (auto it = index.lower_bound(prefix);
             it != index.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
            std::string cp950, what;
            size_t bad = 0;
            const fs::path relative =
                it->second.lexically_relative(fs::u8path(o.operands[1]) / fs::u8path(directory));
            if (Utf8ToCp950(relative.generic_u8string(), &cp950, &bad, &what)) {
                files->push_back(cp950);
            }
        }
        return !files->empty();
    };
    std::vector<FileVerdict> verdicts =
        CheckAgainstTarget(patch, read, ApplierFullPath(fs::u8path(o.operands[1])), list);
    std::map<Verdict, size_t> counts;
    for (const FileVerdict& v : verdicts) ++counts[v.verdict];
    bool ok = WouldApply(verdicts);
    if (o.json) {
        out << "{\"files\":[";
        for (size_t i = 0; i < verdicts.size(); ++i) {
            const FileVerdict& v = verdicts[i];
            std::string name;
            Cp950ToUtf8(v.name, &name);
            out << (i ? "," : "") << "{\"name\":" << JsonText(name) << ",\"verdict\":\""
                << VerdictId(v.verdict) << "\"";
            if (v.variant > 0) {
                out << ",\"version\":" << v.variant
                    << ",\"from_backup\":" << (v.fromBackup ? "true" : "false");
            }
            if (!v.detail.empty()) out << ",\"detail\":" << JsonText(v.detail);
            out << "}";
        }
        out << "],\"counts\":{";
        bool first = true;
        for (const auto& [verdict, n] : counts) {
            out << (first ? "" : ",") << "\"" << VerdictId(verdict) << "\":" << n;
            first = false;
        }
        out << "},\"would_apply\":" << (ok ? "true" : "false") << "}\n";
        return ok ? kExitOk : kExitWouldFail;
    }
    for (const FileVerdict& v : verdicts) {
        if (o.quiet && !VerdictIsProblem(v.verdict)) continue;
        std::string name;
        Cp950ToUtf8(v.name, &name);
        out << (name.empty() ? "(registry)" : name) << ": " << VerdictText(v.verdict);
        if (v.variant > 0) {
            out << " from version " << v.variant << (v.fromBackup ? " (copy in the backup)" : "");
        }
        if (!v.detail.empty()) out << " - " << v.detail;
        out << "\n";
    }
    out << "totals (" << verdicts.size() << " records):";
    const char* separator = " ";
    for (const auto& [verdict, n] : counts) {
        std::string id = VerdictId(verdict);
        for (char& c : id) c = c == '_' ? ' ' : c;
        out << separator << n << " " << id;
        separator = ", ";
    }
    out << "\n" << (ok ? "the patch would apply\n" : "the patch would NOT apply\n");
    return ok ? kExitOk : kExitWouldFail;
}
