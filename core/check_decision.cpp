#include "core/check_decision.h"

#include "core/cp950.h"
#include "core/windows_names.h"
#include "core/work_names.h"

namespace {

constexpr size_t kDirectoryPathLimit = kMaxFilePath - 12;

bool FitsFileCalls(const std::string& path) {
    if (path.size() >= kMaxFilePath) return false;
    const size_t separator = Cp950LastSeparator(path);
    return separator == std::string::npos || separator < kDirectoryPathLimit;
}

RecordCheck Verdict(CheckVerdict verdict) {
    RecordCheck check;
    check.verdict = verdict;
    return check;
}

RecordCheck CheckChangedFile(const CurrentRecord& record, const std::string& backupName,
                             FileProbe& probe) {
    const FileRecordHeader& header = record.fileHeader;
    const FileFingerprint newFile{header.newSize, header.newCrc, record.newSkipOffset,
                                  record.newSkipLength};
    const ProbeAnswer destination = probe.Compare(record.fileName, newFile);
    if (destination == ProbeAnswer::kMatches) return Verdict(CheckVerdict::kAlreadyNew);
    bool anything = destination != ProbeAnswer::kAbsent;
    for (int k = 0; k < header.sourceCount && k < kMaxSourceVariants; ++k) {
        const SourceVariant& variant = record.variants[k];
        const FileFingerprint source{variant.header.sourceSize, variant.header.sourceCrc,
                                     variant.skipOffset, variant.skipLength};
        const std::string candidates[] = {variant.sourceName,
                                          JoinWindowsPath(backupName, variant.sourceName)};
        for (int where = 0; where < 2; ++where) {
            const ProbeAnswer answer = probe.Compare(candidates[where], source);
            if (answer == ProbeAnswer::kMatches) {
                RecordCheck check;
                check.verdict = where == 0 ? CheckVerdict::kFromTarget : CheckVerdict::kFromBackup;
                check.variant = k;
                check.sourcePath = candidates[where];
                return check;
            }
            if (answer != ProbeAnswer::kAbsent && where == 0) anything = true;
        }
    }
    return Verdict(anything ? CheckVerdict::kForeign : CheckVerdict::kMissing);
}

bool Retired(const std::vector<std::string>& retired, const std::string& name) {
    const std::string key = WindowsNameKey(name);
    for (const std::string& each : retired) {
        if (WindowsNameKey(each) == key) return true;
    }
    return false;
}

}  // namespace

PlaceState CheckPlace(const CurrentRecord& record, const std::vector<std::string>& retired,
                      FileProbe& probe) {
    for (const std::string& directory : ParentDirectories(record.fileName)) {
        if (probe.Exists(directory) && !Retired(retired, directory)) return PlaceState::kTaken;
    }
    // A directory there that no record empties stays the obstacle it was.
    bool clears = false;
    for (const std::string& each : retired) clears = clears || PathsOverlap(each, record.fileName);
    if (!clears) return PlaceState::kFree;
    std::vector<std::string> entries;
    if (!probe.ListFiles(record.fileName, &entries)) return PlaceState::kFree;
    for (const std::string& entry : entries) {
        if (entry.back() != '\\' && !Retired(retired, JoinWindowsPath(record.fileName, entry))) {
            return PlaceState::kTaken;
        }
    }
    return PlaceState::kClearedDirectory;
}

RecordCheck CheckRecord(const CurrentRecord& record, const std::string& backupName,
                        FileProbe& probe) {
    switch (record.kind) {
        case RecordKind::kFile:
            return CheckChangedFile(record, backupName, probe);
        case RecordKind::kNewFile:
            return Verdict(probe.Exists(record.fileName) ? CheckVerdict::kReplace
                                                         : CheckVerdict::kCreate);
        case RecordKind::kObsolete:
            return Verdict(probe.Exists(record.fileName) ? CheckVerdict::kRetire
                                                         : CheckVerdict::kAbsent);
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            break;
    }
    return Verdict(CheckVerdict::kRegistry);
}

void TargetSurvey::Add(const CurrentRecord& record, const std::string& backupName,
                       FileProbe& probe) {
    auto there = [&](const std::string& name) {
        return probe.Exists(name) || probe.Exists(JoinWindowsPath(backupName, name));
    };
    switch (record.kind) {
        case RecordKind::kFile:
            if ((record.fileHeader.fileFlags & kOptional) == 0) needsFiles = true;
            for (int v = 0; v < record.fileHeader.sourceCount && !knownThere; ++v) {
                knownThere = there(record.variants[v].sourceName);
            }
            knownThere = knownThere || there(record.fileName);
            return;
        case RecordKind::kObsolete:
            knownThere = knownThere || there(record.fileName);
            return;
        case RecordKind::kNewFile:  // a new file tells nothing about the target
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            return;
    }
}

bool VerdictFailsRun(const CurrentRecord& record, CheckVerdict verdict) {
    switch (verdict) {
        case CheckVerdict::kMissing:
        case CheckVerdict::kForeign:
            return (record.fileHeader.fileFlags & kOptional) == 0;
        case CheckVerdict::kRefusedName:
        case CheckVerdict::kPathTooLong:
            return true;
        case CheckVerdict::kAlreadyNew:
        case CheckVerdict::kFromTarget:
        case CheckVerdict::kFromBackup:
        case CheckVerdict::kCreate:
        case CheckVerdict::kReplace:
        case CheckVerdict::kRetire:
        case CheckVerdict::kAbsent:
        case CheckVerdict::kRegistry:
            break;
    }
    return false;
}

bool PathsFitFileCalls(const std::string& fullTarget, const std::string& backupName,
                       const std::string& fileName) {
    const std::string staging = JoinWindowsPath(fullTarget, kLongestStagingName);
    return FitsFileCalls(JoinWindowsPath(fullTarget, fileName)) &&
           FitsFileCalls(JoinWindowsPath(JoinWindowsPath(fullTarget, backupName), fileName)) &&
           FitsFileCalls(JoinWindowsPath(staging, fileName)) &&
           FitsFileCalls(JoinWindowsPath(staging, kIntermediateNames[0]));
}

std::string JoinWindowsPath(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    if (Cp950LastSeparator(directory) == directory.size() - 1) return directory + name;
    return directory + "\\" + name;
}
