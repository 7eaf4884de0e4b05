#include <filesystem>
#include <map>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/cli/options.h"
#include "builder/lib/patch_check.h"
#include "builder/lib/text_cp950.h"

namespace {

namespace fs = std::filesystem;

// Windows' comparison of names. The ASCII fold is what every Windows version
// agrees on; a fuller comparison key replaces this one function.
std::string LookupKey(const std::string& utf8) {
    std::string key = utf8;
    for (char& c : key) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    return key;
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
        auto added = index->emplace(
            LookupKey(it->path().lexically_relative(root).generic_u8string()), it->path());
        if (!added.second) {
            err << "warning: " << added.first->second.u8string() << " and " << it->path().u8string()
                << " are one file on Windows; only the first is checked\n";
        }
    }
    if (ec) *error = root.u8string() + ": " + ec.message();
    return !ec;
}

const char* VerdictId(Verdict v) {
    switch (v) {
        case Verdict::kAlreadyNew:
            return "already_new";
        case Verdict::kRebuildable:
            return "rebuildable";
        case Verdict::kRebuildFails:
            return "rebuild_fails";
        case Verdict::kForeign:
            return "foreign";
        case Verdict::kMissing:
            return "missing";
        case Verdict::kOptionalSkip:
            return "optional_skipped";
        case Verdict::kCreate:
            return "create";
        case Verdict::kReplace:
            return "replace";
        case Verdict::kRetire:
            return "retire";
        case Verdict::kAbsent:
            return "absent";
        case Verdict::kRegistry:
            return "registry";
    }
    return "?";
}

bool IsProblem(Verdict v) {
    return v == Verdict::kForeign || v == Verdict::kMissing || v == Verdict::kRebuildFails;
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
    // Names in the patch are code page 950 with '\'; the disk holds UTF-8.
    TargetReader read = [&](const std::string& name, Bytes* content) {
        std::string utf8;
        if (!Cp950ToUtf8(name, &utf8)) return false;
        for (char& c : utf8) c = c == '\\' ? '/' : c;
        auto found = index.find(LookupKey(utf8));
        std::string ignored;
        return found != index.end() && ReadFileBytes(found->second.u8string(), content, &ignored);
    };
    std::vector<FileVerdict> verdicts = CheckAgainstTarget(patch, read);
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
        if (o.quiet && !IsProblem(v.verdict)) continue;
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
