#include "builder/cli/options.h"

#include <algorithm>
#include <iterator>
#include <set>

#include "builder/cli/commands.h"
#include "selfpatch_version.h"

const char kVersionText[] = "mkpatch " SELFPATCH_VERSION "\n";

const char kUsageText[] =
    "usage:\n"
    "  mkpatch build --old DIR [--old DIR ...] --new DIR -o PATCH.exe [options]\n"
    "  mkpatch build --old OLD.exe --new NEW.exe -o PATCH.exe [--name NAME] [options]\n"
    "  mkpatch inspect [--json] PATCH.exe\n"
    "  mkpatch verify [--json] PATCH.exe DIR\n"
    "  mkpatch --version | --help\n"
    "\n"
    "build: makes a self-applying patch that upgrades every given old version\n"
    "(oldest first) to the new one. Directories are compared file by file; two\n"
    "single files are one file, patched under the old file's name (the one on\n"
    "the user's machine).\n"
    "  -o, --output FILE         the patch to write (not -: it is an executable);\n"
    "                            it may not be or lie inside an input, and an\n"
    "                            existing file, even one another build wrote\n"
    "                            meanwhile, is kept unless -f\n"
    "  -f, --force               replace an existing output file\n"
    "  --dry-run                 list the plan and its sizes; nothing is written\n"
    "  --json                    a summary object on standard output (with\n"
    "                            --dry-run, the plan)\n"
    "  --progress                show the progress line (file, bytes compared,\n"
    "                            rate) also when standard error is no terminal\n"
    "  --stub FILE               applier executable (default: applier.exe beside\n"
    "                            this program, then in the share/selfpatch folder\n"
    "                            of its install, else the one of the Windows build)\n"
    "  --allow-64bit-stub        take the x86-64 build of the applier (for tests;\n"
    "                            it runs on 64-bit Windows only)\n"
    "  --name NAME               two single files: the file's name in the patch\n"
    "                            (default: the old file's; needed when old files\n"
    "                            have different names)\n"
    "  --location user|windows|system|registry   where the applier finds the target\n"
    "  --location-key ROOT\\KEY   registry key for --location registry\n"
    "  --location-value NAME     registry value (default: the key's default value)\n"
    "  --backup NAME             backup directory below the target (default BACKUP)\n"
    "  --notice FILE             notice text, UTF-8 (shown by the Info button);\n"
    "                            at most 1,000 bytes in code page 950, line ends\n"
    "                            counting one byte each\n"
    "  --description FILE        description text, UTF-8 (shown in the window);\n"
    "                            at most 1,002 bytes in code page 950, likewise\n"
    "  --exclude PATTERN         leave out files and directories whose path or name\n"
    "                            matches ('*', '?', case-insensitive; repeatable)\n"
    "  --optional PATTERN        changed files that may be left alone when they match\n"
    "                            no known version, with a warning (repeatable)\n"
    "  --silent PATTERN          like --optional, without the warning\n"
    "  --keep-obsolete           do not retire files missing from the new version\n"
    "  --allow-removals          let an empty new tree, or one that retires more\n"
    "                            than half of the old files, through\n"
    "  --follow-links            follow symbolic links that stay inside their tree\n"
    "                            (by default a link is an error)\n"
    "  --time-zone utc|local|+HH:MM\n"
    "                            zone in which file times are stored (default utc);\n"
    "                            the applier stamps them as the user's local time,\n"
    "                            so +08:00 keeps the wall-clock times of Taiwan;\n"
    "                            with utc or +HH:MM the same inputs give the same\n"
    "                            bytes on any machine\n"
    "  --no-times                leave the time stamps of patched files alone\n"
    "  --registry FILE.reg       registry values to write (REGEDIT4 or version 5)\n"
    "  --reg-encoding auto|utf-8|cp950\n"
    "                            text of a .reg file without a byte-order mark\n"
    "                            (default auto: a REGEDIT4 file is code page 950,\n"
    "                            as regedit writes it on a Traditional Chinese\n"
    "                            Windows, or UTF-8, whichever its bytes are;\n"
    "                            bytes that are both must be named)\n"
    "  --registry-check ROOT\\KEY key whose value must exist before values are\n"
    "                            written (default: the registry location)\n"
    "  --registry-check-value NAME\n"
    "  --zopfli                  smaller, much slower compression\n"
    "  --jobs N                  compare up to N files at once (default: every\n"
    "                            core this process may use); the patch is the\n"
    "                            same for every N\n"
    "inspect: lists what a patch carries: texts, target, files, version chains,\n"
    "registry values and totals.\n"
    "verify: says file by file what the patch would do to DIR (names are matched\n"
    "case-insensitively, as Windows does); changes nothing.\n"
    "every command: --quiet (errors and warnings; inspect and verify also their\n"
    "totals; no progress line), --verbose (more detail; build names the stub),\n"
    "--json (one JSON document on standard output; on failure an object with\n"
    "\"error\" and \"exit_code\", the message also on standard error).\n"
    "build warns, and still builds, when a name changes only in case between\n"
    "versions, a Linux file name holds a backslash, or a path leaves the install\n"
    "folder fewer than 100 of the 260 bytes Windows allows; a signed stub is\n"
    "taken without its signature (sign the finished patch).\n"
    "\n"
    "exit codes: 0 success, 1 failure (see the message), 2 wrong command line,\n"
    "3 verify found files the patch cannot handle.\n";

namespace {

struct LocationName {
    const char* name;
    uint8_t kind;
};
constexpr LocationName kLocations[] = {{"user", kUserPath},
                                       {"registry", kRegistryValue},
                                       {"windows", kWindowsDirectory},
                                       {"system", kSystemDirectory}};

// Options that take one value and may appear once.
struct ValueOption {
    const char* name;
    std::string BuildOptions::*field;
};
const ValueOption kValueOptions[] = {
    {"--new", &BuildOptions::newPath},
    {"--output", &BuildOptions::outputPath},
    {"--stub", &BuildOptions::stubPath},
    {"--name", &BuildOptions::name},
    {"--location-key", &BuildOptions::locationKey},
    {"--location-value", &BuildOptions::locationValue},
    {"--backup", &BuildOptions::backupName},
    {"--notice", &BuildOptions::noticePath},
    {"--description", &BuildOptions::descriptionPath},
    {"--registry", &BuildOptions::registryPath},
    {"--registry-check", &BuildOptions::checkKey},
    {"--registry-check-value", &BuildOptions::checkValue},
    {"--time-zone", &BuildOptions::timeZone},
    {"--reg-encoding", &BuildOptions::regEncoding},
    {"--jobs", &BuildOptions::jobsText},
};

// More threads than this only cost memory: each holds a file's search.
constexpr unsigned long kMaxJobs = 256;

// --jobs: a whole number from 1 to kMaxJobs.
bool ParseJobs(const std::string& text, unsigned* jobs, std::string* error) {
    if (text.empty()) return true;
    unsigned long n = 0;
    bool digits = text.size() <= 4;
    for (char c : text) {
        digits = digits && c >= '0' && c <= '9';
        if (digits) n = n * 10 + static_cast<unsigned long>(c - '0');
    }
    if (!digits || n < 1 || n > kMaxJobs) {
        *error = "--jobs must be a whole number from 1 to " + std::to_string(kMaxJobs);
        return false;
    }
    *jobs = static_cast<unsigned>(n);
    return true;
}

struct ListOption {
    const char* name;
    std::vector<std::string> BuildOptions::*field;
};
const ListOption kListOptions[] = {
    {"--old", &BuildOptions::oldPaths},
    {"--optional", &BuildOptions::optionalPatterns},
    {"--silent", &BuildOptions::silentPatterns},
    {"--exclude", &BuildOptions::excludes},
};

struct FlagOption {
    const char* name;
    bool BuildOptions::*field;
    bool value;
};
const FlagOption kFlags[] = {
    {"--keep-obsolete", &BuildOptions::keepObsolete, true},
    {"--allow-removals", &BuildOptions::allowRemovals, true},
    {"--follow-links", &BuildOptions::followLinks, true},
    {"--force", &BuildOptions::force, true},
    {"--allow-64bit-stub", &BuildOptions::allow64BitStub, true},
    {"--no-times", &BuildOptions::stampTimes, false},
    {"--zopfli", &BuildOptions::zopfli, true},
    {"--quiet", &BuildOptions::quiet, true},
    {"--verbose", &BuildOptions::verbose, true},
    {"--json", &BuildOptions::json, true},
    {"--dry-run", &BuildOptions::dryRun, true},
    {"--progress", &BuildOptions::progress, true},
};

// A pair where the first option does nothing without the second condition.
bool Unused(bool given, bool needed, const char* option, const char* needs, std::string* error) {
    if (!given || needed) return false;
    *error = std::string(option) + " has no effect without " + needs;
    return true;
}

bool Consistent(const BuildOptions& o, std::string* error) {
    if (o.oldPaths.empty() || o.newPath.empty() || (o.outputPath.empty() && !o.dryRun)) {
        *error = "--old, --new and -o are required";
        return false;
    }
    // A patch is an executable the user runs, not a stream to pipe on.
    if (o.outputPath == "-") {
        *error = "-o - is not supported: the patch is an executable file; name it";
        return false;
    }
    if (o.regEncoding != "auto" && o.regEncoding != "utf-8" && o.regEncoding != "cp950") {
        *error = "--reg-encoding must be auto, utf-8 or cp950";
        return false;
    }
    if (o.json && (o.quiet || o.verbose)) {
        *error = "--json gives everything; --quiet and --verbose do not apply to it";
        return false;
    }
    bool registry = o.locationKind == kRegistryValue;
    if (registry && o.locationKey.empty()) {
        *error = "--location registry needs --location-key";
        return false;
    }
    if (o.quiet && o.verbose) {
        *error = "--quiet and --verbose exclude each other";
        return false;
    }
    bool otherTimeZone = o.timeZone != "utc";
    return !Unused(!o.jobsText.empty(), !o.dryRun, "--jobs", "encoding (--dry-run encodes nothing)",
                   error) &&
           !Unused(!o.locationKey.empty(), registry, "--location-key", "--location registry",
                   error) &&
           !Unused(!o.locationValue.empty(), registry, "--location-value", "--location registry",
                   error) &&
           !Unused(!o.checkKey.empty(), !o.registryPath.empty(), "--registry-check", "--registry",
                   error) &&
           !Unused(!o.checkValue.empty(), !o.checkKey.empty(), "--registry-check-value",
                   "--registry-check", error) &&
           !Unused(o.allowRemovals, !o.keepObsolete, "--allow-removals",
                   "retiring files (it conflicts with --keep-obsolete)", error) &&
           !Unused(otherTimeZone, o.stampTimes, "--time-zone",
                   "time stamps (it conflicts with --no-times)", error) &&
           !Unused(o.regEncoding != "auto", !o.registryPath.empty(), "--reg-encoding", "--registry",
                   error);
}

}  // namespace

bool ParseBuildOptions(const std::vector<std::string>& args, BuildOptions* o, std::string* error) {
    std::set<std::string> seen;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        if (a == "-o") a = "--output";
        if (a == "-f") a = "--force";
        std::string v;
        const bool takesValue = a == "--location" ||
                                std::any_of(std::begin(kValueOptions), std::end(kValueOptions),
                                            [&](const ValueOption& k) { return a == k.name; }) ||
                                std::any_of(std::begin(kListOptions), std::end(kListOptions),
                                            [&](const ListOption& k) { return a == k.name; });
        if (takesValue) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            v = args[++i];
        }
        bool known = false;
        for (const ListOption& k : kListOptions) {
            if (a == k.name) {
                (o->*k.field).push_back(v);
                known = true;
            }
        }
        for (const FlagOption& k : kFlags) {
            if (a == k.name) {
                o->*k.field = k.value;
                known = true;
            }
        }
        for (const ValueOption& k : kValueOptions) {
            if (a == k.name) {
                o->*k.field = v;
                known = true;
            }
        }
        if (a == "--location") {
            known = false;
            for (const LocationName& l : kLocations) {
                if (v == l.name) {
                    o->locationKind = l.kind;
                    known = true;
                }
            }
            if (!known) {
                *error = "--location must be user, windows, system or registry";
                return false;
            }
        }
        if (!known) {
            *error = "unknown option \"" + args[i] + "\"";
            return false;
        }
        bool repeatable = std::any_of(std::begin(kListOptions), std::end(kListOptions),
                                      [&](const ListOption& k) { return a == k.name; });
        if (!seen.insert(a).second && !repeatable) {
            *error = a + " is given twice";
            return false;
        }
    }
    return Consistent(*o, error) && ParseJobs(o->jobsText, &o->jobs, error);
}

bool ParseReadOptions(const std::vector<std::string>& args, size_t operands, ReadOptions* o,
                      std::string* error) {
    for (const std::string& a : args) {
        if (a == "--json") {
            o->json = true;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else if (a == "--verbose") {
            o->verbose = true;
        } else if (a.size() > 1 && a[0] == '-') {
            *error = "unknown option \"" + a + "\"";
            return false;
        } else {
            o->operands.push_back(a);
        }
    }
    if (o->operands.size() != operands) {
        *error = operands == 1 ? "inspect takes one patch" : "verify takes a patch and a directory";
        return false;
    }
    if (o->quiet && o->verbose) {
        *error = "--quiet and --verbose exclude each other";
        return false;
    }
    if (o->json && (o->quiet || o->verbose)) {
        *error = "--json gives everything; --quiet and --verbose do not apply to it";
        return false;
    }
    return true;
}
