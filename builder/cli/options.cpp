#include "builder/cli/options.h"

#include "builder/cli/commands.h"

const char kUsageText[] =
    "usage:\n"
    "  mkpatch build --old DIR [--old DIR ...] --new DIR -o PATCH.exe [options]\n"
    "  mkpatch inspect PATCH.exe\n"
    "  mkpatch verify PATCH.exe DIR\n"
    "\n"
    "build: makes a self-applying patch that upgrades every given old version\n"
    "(oldest first; a single file works too) to the new one.\n"
    "  --stub FILE               applier executable (default: applier.exe beside\n"
    "                            this program, else build/windows/app/applier.exe)\n"
    "  --location user|windows|system|registry   where the applier finds the target\n"
    "  --location-key ROOT\\KEY   registry key for --location registry\n"
    "  --location-value NAME     registry value (default: the key's default value)\n"
    "  --backup NAME             backup directory below the target (default BACKUP)\n"
    "  --notice FILE             notice text, UTF-8 (shown by the Info button)\n"
    "  --description FILE        description text, UTF-8 (shown in the window)\n"
    "  --optional PATTERN        files that may be left alone when they match no\n"
    "                            known version, with a warning ('*', '?'; repeatable)\n"
    "  --silent PATTERN          like --optional, without the warning\n"
    "  --keep-obsolete           do not retire files missing from the new version\n"
    "  --no-times                leave the time stamps of patched files alone\n"
    "  --registry FILE.reg       registry values to write (REGEDIT4 or version 5)\n"
    "  --registry-check ROOT\\KEY key whose value must exist before values are\n"
    "                            written (default: the registry location)\n"
    "  --registry-check-value NAME\n"
    "  --zopfli                  smaller, much slower compression\n"
    "  --quiet                   no progress and no summary\n"
    "inspect: lists what a patch carries.\n"
    "verify: says file by file what the patch would do to DIR; changes nothing.\n"
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

}  // namespace

bool ParseBuildOptions(const std::vector<std::string>& args, BuildOptions* o, std::string* error) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string* into) {
            if (i + 1 >= args.size()) {
                *error = a + " needs a value";
                return false;
            }
            *into = args[++i];
            return true;
        };
        std::string v;
        if (a == "--old") {
            if (!value(&v)) return false;
            o->oldPaths.push_back(v);
        } else if (a == "--new") {
            if (!value(&o->newPath)) return false;
        } else if (a == "-o" || a == "--output") {
            if (!value(&o->outputPath)) return false;
        } else if (a == "--stub") {
            if (!value(&o->stubPath)) return false;
        } else if (a == "--location") {
            if (!value(&v)) return false;
            bool known = false;
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
        } else if (a == "--location-key") {
            if (!value(&o->locationKey)) return false;
        } else if (a == "--location-value") {
            if (!value(&o->locationValue)) return false;
        } else if (a == "--backup") {
            if (!value(&o->backupName)) return false;
        } else if (a == "--notice") {
            if (!value(&o->noticePath)) return false;
        } else if (a == "--description") {
            if (!value(&o->descriptionPath)) return false;
        } else if (a == "--optional" || a == "--silent") {
            if (!value(&v)) return false;
            (a == "--optional" ? o->optionalPatterns : o->silentPatterns).push_back(v);
        } else if (a == "--registry") {
            if (!value(&o->registryPath)) return false;
        } else if (a == "--registry-check") {
            if (!value(&o->checkKey)) return false;
        } else if (a == "--registry-check-value") {
            if (!value(&o->checkValue)) return false;
        } else if (a == "--keep-obsolete") {
            o->keepObsolete = true;
        } else if (a == "--no-times") {
            o->stampTimes = false;
        } else if (a == "--zopfli") {
            o->zopfli = true;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else {
            *error = "unknown option \"" + a + "\"";
            return false;
        }
    }
    if (o->oldPaths.empty() || o->newPath.empty() || o->outputPath.empty()) {
        *error = "--old, --new and -o are required";
        return false;
    }
    if (o->locationKind == kRegistryValue && o->locationKey.empty()) {
        *error = "--location registry needs --location-key";
        return false;
    }
    if (o->stubPath.empty()) {
        *error = "--stub is required";
        return false;
    }
    return true;
}
