// Reading records from the payload file and walking the sections in passes.
#include "container/pass_runner.h"

#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "platform/file_primitives.h"
#include "ui/window_services.h"

CurrentRecord gCurrentRecord;
SectionTables gSections = {};
std::string gBackupName;

namespace {

bool IsSectionNumber(int section) { return section >= 0 && section < kMaxSections; }

// The backup directory is T\B; an empty or "." name would make it T itself.
int ReadBackupName() {
    if (!ReadPayloadString(&gBackupName)) return kPatchDamaged;
    return IsSafeRelativeName(gBackupName) ? kOk : kInternalFileError;
}

}  // namespace

int ReadRecord() {
    ReadRecordStatus status = ReadRecord(PayloadSource(), &gCurrentRecord);
    gCurrentFileName = gCurrentRecord.fileName;
    return status == ReadRecordStatus::kOk ? kOk : kInternalFileError;
}

int WalkSection(int section, PassCallback callback) {
    if (!IsSectionNumber(section)) return kInternalFileError;
    std::string& staging = gSections.staging[section];
    if (staging.empty()) {
        int result = CreateStagingDirectory(gTargetDirectory, &staging);
        if (result != kOk) return result;
    }
    for (;;) {
        if (ReadRecord() != kOk) return kInternalFileError;
        if (gCurrentRecord.kind == kEndRecord) return kOk;
        int result = callback(section, gCurrentRecord.kind);
        if (result != kOk) return result;
    }
}

int PassRunner(PassCallback callback, bool stopOnError) {
    // The tables hold kMaxSections; a larger count cannot have been filled.
    if (gSections.lastSection < 0 || gSections.lastSection >= kMaxSections) {
        return kInternalFileError;
    }
    int passResult = kOk;
    for (int section = 0; section <= gSections.lastSection; ++section) {
        SeekPayload(gSections.sectionStart[section]);
        if (stopOnError && gWindow.stopRequested) return kUserStopped;
        int result = ReadBackupName();
        if (result != kOk) return result;
        gTargetDirectory = gSections.target[section];
        result = WalkSection(section, callback);
        if (result == kOk) continue;
        if (stopOnError) return result;
        if (passResult == kOk) passResult = result;
    }
    return passResult;
}
