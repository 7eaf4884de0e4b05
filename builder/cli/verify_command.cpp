#include <filesystem>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/lib/patch_check.h"

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 2) {
        err << "usage: mkpatch verify PATCH.exe DIR\n";
        return kExitUsage;
    }
    PatchContents patch;
    if (!ReadPatchFile(args[0], &patch, err)) return kExitFailed;
    namespace fs = std::filesystem;
    const fs::path root = fs::u8path(args[1]);
    if (!fs::is_directory(root)) {
        err << "error: " << args[1] << ": not a directory\n";
        return kExitFailed;
    }
    // Names in the patch use '\'; on this system the separator is '/'.
    TargetReader read = [&](const std::string& name, Bytes* content) {
        std::string local = name;
        for (char& c : local) c = c == '\\' ? '/' : c;
        fs::path path = root / fs::u8path(local);
        std::error_code ec;
        if (!fs::is_regular_file(path, ec)) return false;
        std::string ignored;
        return ReadFileBytes(path.u8string(), content, &ignored);
    };
    std::vector<FileVerdict> verdicts = CheckAgainstTarget(patch, read);
    for (const FileVerdict& v : verdicts) {
        out << (v.name.empty() ? "(registry)" : v.name) << ": " << VerdictText(v.verdict);
        if (v.variant > 0) {
            out << " from version " << v.variant << (v.fromBackup ? " (copy in the backup)" : "");
        }
        if (!v.detail.empty()) out << " - " << v.detail;
        out << "\n";
    }
    bool ok = WouldApply(verdicts);
    out << (ok ? "the patch would apply\n" : "the patch would NOT apply\n");
    return ok ? kExitOk : kExitWouldFail;
}
