// Reading records from the payload file and walking the sections in passes.
#include "container/pass_runner.h"

#include "platform/file_primitives.h"

namespace {

bool IsSectionNumber(int section) { return section >= 0 && section < kMaxSections; }

// The backup directory is T\B; an empty or "." name would make it T itself.
ResultCode ReadBackupName(RecordWalk& walk, int section) {
    if (!walk.payload.ReadString(&walk.backupName)) return kPatchDamaged;
    if (!IsSafeRelativeName(walk.backupName)) return kInternalFileError;
    walk.sections.backupName[section] = walk.backupName;
    return kOk;
}

}  // namespace

ResultCode ReadRecord(RecordWalk& walk) {
    ReadRecordStatus status = ReadRecord(walk.payload, &walk.record);
    return status == ReadRecordStatus::kOk ? kOk : kInternalFileError;
}

ResultCode WalkSection(RecordWalk& walk, int section, RecordVisitor& visitor) {
    if (!IsSectionNumber(section)) return kInternalFileError;
    std::string& staging = walk.sections.staging[section];
    if (staging.empty()) {
        ResultCode result = CreateStagingDirectory(walk.targetDirectory, &staging);
        if (result != kOk) return result;
    }
    for (;;) {
        if (ReadRecord(walk) != kOk) return kInternalFileError;
        if (walk.record.kind == RecordKind::kEnd) return kOk;
        walk.recordEnd = walk.payload.Position();
        ResultCode result = visitor.Visit(section, walk.record);
        if (result != kOk) return result;
        if (!walk.payload.Seek(walk.recordEnd)) return kInternalFileError;
    }
}

ResultCode PassRunner(RecordWalk& walk, RecordVisitor& visitor, bool stopOnError) {
    SectionTables& sections = walk.sections;
    // The tables hold kMaxSections; a larger count cannot have been filled.
    if (sections.lastSection < 0 || sections.lastSection >= kMaxSections) {
        return kInternalFileError;
    }
    ResultCode passResult = kOk;
    for (int section = 0; section <= sections.lastSection; ++section) {
        if (stopOnError && walk.host.StopRequested()) return kUserStopped;
        ResultCode result = walk.payload.Seek(sections.sectionStart[section])
                                ? ReadBackupName(walk, section)
                                : kPatchDamaged;
        if (result != kOk) return result;
        walk.targetDirectory = sections.target[section];
        result = WalkSection(walk, section, visitor);
        if (result == kOk) continue;
        if (stopOnError) return result;
        if (passResult == kOk) passResult = result;
    }
    return passResult;
}
