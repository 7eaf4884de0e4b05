#include "engine/name_checks.h"

#include "core/check_decision.h"
#include "core/windows_names.h"
#include "core/cp950.h"
#include "engine/key_set.h"
#include "platform/file_primitives.h"
#include "platform/path_probe.h"

namespace {

struct SectionNames {
    std::string target;
    std::string backup;
    std::vector<std::string> files;  // FileNames of changed, new and obsolete records
};

ResultCode ReadSectionNames(ApplyRun& run, int section, SectionNames* names) {
    names->target = run.sections.target[section];
    if (!run.payload.Seek(run.sections.sectionStart[section]) ||
        !run.payload.ReadString(&names->backup)) {
        return kPatchDamaged;
    }
    if (!IsSafeRelativeName(names->backup)) return kInternalFileError;
    for (;;) {
        if (ReadRecord(run) != kOk) return kInternalFileError;
        if (run.record.kind == RecordKind::kEnd) return kOk;
        if (NamesTargetFile(run.record.kind)) names->files.push_back(run.record.fileName);
    }
}

// How each leading part of a path below a target resolves: the identity of
// the deepest part that exists, then the name key of the parts below it. Two
// spellings of one file (an 8.3 alias, a case Windows folds) get one form.
class PathResolver {
  public:
    explicit PathResolver(PathProbe (*probe)(const std::string&)) : probe_(probe) {}

    // False when an existing part below the target is a reparse point.
    bool Resolve(const std::string& target, const std::string& relative,
                 std::vector<std::string>* forms) {
        forms->clear();
        std::string path = target;
        std::string base = TargetForm(target);
        std::string below;
        bool exists = true;
        for (const std::string& part : SplitWindowsPath(relative)) {
            path = JoinPath(path, part);
            below += '\\' + WindowsNameKey(part);
            if (exists) {
                const PathProbe& probe = Probe(path);
                if (probe.isReparsePoint) return false;
                exists = probe.exists;
                if (!probe.identity.empty()) {
                    base = probe.identity;
                    below.clear();
                }
            }
            forms->push_back(base + below);
        }
        return true;
    }

  private:
    // Each path is probed once. The reference holds until the next call.
    const PathProbe& Probe(const std::string& path) {
        const std::string key = WindowsNameKey(path);
        const int at = probed_.Find(key);
        if (at >= 0) return probes_[at];
        probed_.Insert(key);
        probes_.push_back(probe_(path));
        return probes_.back();
    }
    // A target that is not there yet is known by its full name.
    std::string TargetForm(const std::string& target) {
        const PathProbe& probe = Probe(target);
        return probe.identity.empty() ? "?" + WindowsNameKey(FullPathOf(target)) : probe.identity;
    }

    PathProbe (*probe_)(const std::string&);
    KeySet probed_;                  // name keys of the paths probed
    std::vector<PathProbe> probes_;  // in the same order
};

bool Contains(const std::vector<std::string>& forms, const std::string& form) {
    for (const std::string& each : forms) {
        if (each == form) return true;
    }
    return false;
}

ResultCode CheckSection(const SectionNames& names, PathResolver& resolver, KeySet* fileForms,
                        std::vector<std::vector<std::string>>* backupForms,
                        std::vector<std::vector<std::string>>* filePartForms) {
    std::string clash;
    if (CheckBackupName(names.backup, names.files, &clash) != NameProblem::kNone) {
        return kInternalFileError;
    }
    const std::string fullTarget = FullPathOf(names.target);
    std::vector<std::string> forms;
    if (!resolver.Resolve(names.target, names.backup, &forms)) return kInternalFileError;
    backupForms->push_back(forms);
    for (const std::string& file : names.files) {
        if (!PathsFitFileCalls(fullTarget, names.backup, file)) return kInternalFileError;
        if (!resolver.Resolve(names.target, file, &forms)) return kInternalFileError;
        if (!fileForms->Insert(forms.back())) return kInternalFileError;
        filePartForms->push_back(forms);
        // The backup tree is written too, so its parts must not lead elsewhere.
        if (!resolver.Resolve(names.target, JoinPath(names.backup, file), &forms)) {
            return kInternalFileError;
        }
    }
    return kOk;
}

}  // namespace

ResultCode CheckPatchNames(ApplyRun& run, PathProbe (*probe)(const std::string&)) {
    const SectionTables& sections = run.sections;
    if (sections.lastSection < 0 || sections.lastSection >= kMaxSections) {
        return kInternalFileError;
    }
    PathResolver resolver(probe);
    // Forms are compared over all sections: two sections may share a target.
    KeySet fileForms;
    std::vector<std::vector<std::string>> backupForms;
    std::vector<std::vector<std::string>> filePartForms;
    for (int section = 0; section <= sections.lastSection; ++section) {
        SectionNames names;
        ResultCode result = ReadSectionNames(run, section, &names);
        if (result == kOk) {
            result = CheckSection(names, resolver, &fileForms, &backupForms, &filePartForms);
        }
        if (result != kOk) return result;
    }
    // A backup directory on, above or below a file, however either is spelt.
    for (const std::vector<std::string>& backup : backupForms) {
        for (const std::vector<std::string>& file : filePartForms) {
            if (Contains(file, backup.back()) || Contains(backup, file.back())) {
                return kInternalFileError;
            }
        }
    }
    return kOk;
}
