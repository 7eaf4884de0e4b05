#include "engine/target_presence.h"

#include <string>

#include "core/check_decision.h"
#include "core/record_layout.h"
#include "engine/target_paths.h"
#include "platform/file_primitives.h"

namespace {

// The survey asks only whether names are there.
class PresenceProbe : public FileProbe {
  public:
    explicit PresenceProbe(const std::string& target) : target_(target) {}
    ProbeAnswer Compare(const std::string&, const FileFingerprint&) override {
        return ProbeAnswer::kAbsent;
    }
    bool Exists(const std::string& relative) override {
        return PathNamesFile(JoinPath(target_, relative));
    }

  private:
    const std::string& target_;
};

ResultCode SurveySection(ApplyRun& run, int section, TargetSurvey* survey) {
    const std::string& target = run.sections.target[section];
    if (!IsDirectory(target)) return kNotForThisTarget;
    std::string backup;
    if (!run.payload.Seek(run.sections.sectionStart[section]) || !run.payload.ReadString(&backup)) {
        return kPatchDamaged;
    }
    PresenceProbe probe(target);
    for (;;) {
        if (ReadRecord(run) != kOk) return kInternalFileError;
        if (run.record.kind == RecordKind::kEnd) break;
        survey->Add(run.record, backup, probe);
    }
    return survey->HoldsNoFileOfThePatch() ? kNotForThisTarget : kOk;
}

}  // namespace

ResultCode CheckTargetsPresent(ApplyRun& run) {
    for (int section = 0; section <= run.sections.lastSection && section < kMaxSections;
         ++section) {
        TargetSurvey survey;
        const ResultCode result = SurveySection(run, section, &survey);
        if (result != kOk) {
            run.targetDirectory = run.sections.target[section];
            return result;
        }
    }
    return kOk;
}
