#include "builder/lib/patch_check.h"

#include <iterator>

#include "core/check_decision.h"
#include "core/windows_names.h"

namespace {

FileVerdict MakeVerdict(const std::string& name, Verdict verdict) {
    FileVerdict v;
    v.name = name;
    v.verdict = verdict;
    return v;
}

// The directory through the reader; the content of the last match is kept
// for rebuilding the chain from it.
class ReaderProbe : public FileProbe {
  public:
    ReaderProbe(const TargetReader& read, const TargetLister& list) : read_(read), list_(list) {}
    ProbeAnswer Compare(const std::string& relative, const FileFingerprint& expected) override {
        Bytes content;
        if (!read_(relative, &content)) return ProbeAnswer::kAbsent;
        if (content.size() != expected.size ||
            CrcWithSkip(content, expected.skipOffset, expected.skipLength) != expected.crc) {
            return ProbeAnswer::kDiffers;
        }
        matched_.swap(content);
        return ProbeAnswer::kMatches;
    }
    bool Exists(const std::string& relative) override {
        Bytes content;
        return read_(relative, &content);
    }
    bool ListFiles(const std::string& relative, std::vector<std::string>* entries) override {
        return list_ && list_(relative, entries);
    }
    const Bytes& matched() const { return matched_; }

  private:
    const TargetReader& read_;
    const TargetLister& list_;
    Bytes matched_;
};

FileVerdict VerdictOf(const PatchContents& patch, const CurrentRecord& r, const RecordCheck& check,
                      const ReaderProbe& probe) {
    FileVerdict v = MakeVerdict(r.fileName, Verdict::kRegistry);
    switch (check.verdict) {
        case CheckVerdict::kAlreadyNew:
            v.verdict = Verdict::kAlreadyNew;
            break;
        case CheckVerdict::kFromTarget:
        case CheckVerdict::kFromBackup: {
            Bytes rebuilt;
            const bool ok =
                DecodeChain(patch, r, check.variant, probe.matched(), &rebuilt, &v.detail);
            v.verdict = ok ? Verdict::kRebuildable : Verdict::kRebuildFails;
            v.variant = check.variant + 1;
            v.fromBackup = check.verdict == CheckVerdict::kFromBackup;
            break;
        }
        case CheckVerdict::kMissing:
        case CheckVerdict::kForeign:
            v.verdict = !VerdictFailsRun(r, check.verdict)        ? Verdict::kOptionalSkip
                        : check.verdict == CheckVerdict::kMissing ? Verdict::kMissing
                                                                  : Verdict::kForeign;
            break;
        case CheckVerdict::kCreate:
            v.verdict = Verdict::kCreate;
            break;
        case CheckVerdict::kReplace:
            v.verdict = Verdict::kReplace;
            break;
        case CheckVerdict::kRetire:
            v.verdict = Verdict::kRetire;
            break;
        case CheckVerdict::kAbsent:
            v.verdict = Verdict::kAbsent;
            break;
        case CheckVerdict::kRegistry:
            v.name.clear();
            break;
        case CheckVerdict::kRefusedName:
            v.verdict = Verdict::kRefusedName;
            break;
        case CheckVerdict::kPathTooLong:
            v.verdict = Verdict::kPathTooLong;
            break;
    }
    return v;
}

}  // namespace

std::vector<FileVerdict> CheckAgainstTarget(const PatchContents& patch, const TargetReader& read,
                                            const std::string& fullTarget,
                                            const TargetLister& list) {
    std::vector<FileVerdict> verdicts;
    std::vector<std::string> names;
    for (const CurrentRecord& r : patch.records) {
        if (NamesTargetFile(r.kind)) names.push_back(r.fileName);
    }
    std::string clash;
    if (CheckBackupName(patch.backupName, names, &clash) != NameProblem::kNone) {
        FileVerdict v = MakeVerdict(patch.backupName, Verdict::kRefusedName);
        v.detail = "the backup directory meets " + clash;
        verdicts.push_back(v);
    }
    ReaderProbe probe(read, list);
    std::vector<std::string> retired;  // obsolete records so far
    for (const CurrentRecord& r : patch.records) {
        if (NamesTargetFile(r.kind) && !fullTarget.empty() &&
            !PathsFitFileCalls(fullTarget, patch.backupName, r.fileName)) {
            verdicts.push_back(MakeVerdict(r.fileName, Verdict::kPathTooLong));
            continue;
        }
        if (r.kind == RecordKind::kObsolete) retired.push_back(r.fileName);
        if ((r.kind == RecordKind::kFile || r.kind == RecordKind::kNewFile) &&
            CheckPlace(r, retired, probe) == PlaceState::kTaken) {
            verdicts.push_back(MakeVerdict(r.fileName, Verdict::kPlaceTaken));
            continue;
        }
        verdicts.push_back(VerdictOf(patch, r, CheckRecord(r, patch.backupName, probe), probe));
    }
    TargetSurvey survey;
    for (const CurrentRecord& r : patch.records) survey.Add(r, patch.backupName, probe);
    if (survey.HoldsNoFileOfThePatch()) {
        verdicts.insert(verdicts.begin(), MakeVerdict(".", Verdict::kNotForThisTarget));
    }
    return verdicts;
}

bool VerdictIsProblem(Verdict verdict) {
    switch (verdict) {
        case Verdict::kForeign:
        case Verdict::kMissing:
        case Verdict::kRebuildFails:
        case Verdict::kRefusedName:
        case Verdict::kPathTooLong:
        case Verdict::kNotForThisTarget:
        case Verdict::kPlaceTaken:
            return true;
        case Verdict::kAlreadyNew:
        case Verdict::kRebuildable:
        case Verdict::kOptionalSkip:
        case Verdict::kCreate:
        case Verdict::kReplace:
        case Verdict::kRetire:
        case Verdict::kAbsent:
        case Verdict::kRegistry:
            break;
    }
    return false;
}

bool WouldApply(const std::vector<FileVerdict>& verdicts) {
    for (const FileVerdict& v : verdicts) {
        if (VerdictIsProblem(v.verdict)) return false;
    }
    return true;
}

namespace {

// Per verdict, in the order of the enum: the id of verify --json, and the text
// a person reads.
struct VerdictWords {
    const char* id;
    const char* text;
};
constexpr VerdictWords kVerdictWords[] = {
    {"already_new", "already new"},
    {"rebuildable", "rebuildable"},
    {"rebuild_fails", "REBUILD FAILS"},
    {"foreign", "FOREIGN (matches no known version)"},
    {"missing", "MISSING (not found)"},
    {"optional_skipped", "optional, left alone (matches no known version)"},
    {"create", "new file, created"},
    {"replace", "new file, replaces the existing one (backed up)"},
    {"retire", "obsolete, moved into the backup"},
    {"absent", "obsolete, already absent"},
    {"registry", "registry changes (checked only on Windows)"},
    {"refused_name", "REFUSED NAME"},
    {"path_too_long", "PATH TOO LONG below this directory (the applier refuses the patch)"},
    {"not_for_this_target",
     "NO FILE OF THE PATCH in this directory (the applier refuses it as not the product's)"},
    {"place_taken",
     "PLACE TAKEN by a file or directory the patch does not retire (the applier refuses it)"},
};
static_assert(std::size(kVerdictWords) == static_cast<size_t>(Verdict::kPlaceTaken) + 1);

}  // namespace

const char* VerdictText(Verdict verdict) { return kVerdictWords[static_cast<int>(verdict)].text; }
const char* VerdictId(Verdict verdict) { return kVerdictWords[static_cast<int>(verdict)].id; }
