#include "engine/file_check.h"

#include <string>

#include "core/check_decision.h"
#include "core/delta_decoder.h"
#include "core/record_layout.h"
#include "core/work_names.h"
#include "engine/delta_step_files.h"
#include "engine/file_commit.h"
#include "engine/step_times.h"
#include "engine/target_paths.h"
#include "platform/directory_hold.h"
#include "platform/file_primitives.h"

namespace {

// Intermediate outputs of a chain alternate between two names for the whole
// run, so a step never writes the file it reads.
const char* NextIntermediateName(ApplyRun& run) {
    run.firstIntermediate = !run.firstIntermediate;
    return kIntermediateNames[run.firstIntermediate ? 1 : 0];
}

bool FileMatches(HANDLE file, const FileFingerprint& expected) {
    uint32_t fileCrc = 0;
    return FileSize(file) == expected.size &&
           CrcOfFile(file, expected.skipOffset, expected.skipLength, &fileCrc) &&
           fileCrc == expected.crc;
}

// The target directory as the check decision sees it.
class TargetProbe : public FileProbe {
  public:
    explicit TargetProbe(const std::string& target) : target_(target) {}
    ProbeAnswer Compare(const std::string& relative, const FileFingerprint& expected) override {
        TIME_STEP("check-and-stage.compare");
        ScopedFile file(OpenForRead(JoinPath(target_, relative)));
        if (!file) return ProbeAnswer::kAbsent;
        return FileMatches(file.get(), expected) ? ProbeAnswer::kMatches : ProbeAnswer::kDiffers;
    }
    bool Exists(const std::string& relative) override {
        return PathNamesFile(JoinPath(target_, relative));
    }
    bool ListFiles(const std::string& relative, std::vector<std::string>* entries) override {
        return ListTree(JoinPath(target_, relative), entries);
    }

  private:
    const std::string& target_;
};

// Fills the run's five block files with the blocks of one step, making them
// at the first step: five temporary files made and deleted per step would
// cost more than most rebuilds. What an earlier, longer block left behind
// its end is never read: the decoder takes from each block its length only.
ResultCode LoadBlocks(ApplyRun& run, const SourceVariant& variant,
                      HANDLE handles[kDeltaBlockCount]) {
    TIME_STEP("check-and-stage.blocks");
    if (!run.payload.Seek(variant.dataStart)) return kTempFull;
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        ScopedFile& file = run.blockFiles[b];
        if (!file) file.reset(CreateTempStreamFile());
        if (!file || SeekTo(file.get(), 0) != 0 ||
            !run.payload.CopyToFile(variant.header.blockLength[b], file.get()) ||
            SeekTo(file.get(), 0) != 0) {
            return kTempFull;
        }
        handles[b] = file.get();
    }
    return kOk;
}

// A staged file is on the disk before the first move: after a power cut the
// destination's name must never hold a file whose data was lost. Flushed
// through the handle that wrote it, while its data is at hand.
ResultCode FlushStaged(HANDLE file) {
    TIME_STEP("check-and-stage.flush");
    return FlushFile(file) ? kOk : kDiskFull;
}

struct StepOutput {
    std::string path;
    uint32_t size;
    bool isFinal;
};

ResultCode RunStep(ApplyRun& run, const FileRecordHeader& header, const SourceVariant& variant,
                   HANDLE input, const StepOutput& output) {
    ScopedFile outputFile;
    if (output.isFinal) {
        MakeParentDirectories(output.path);
    } else {
        DeleteFileForced(output.path);
    }
    outputFile.reset(CreateNewFile(output.path));
    if (!outputFile) return kDiskFull;
    HANDLE blocks[kDeltaBlockCount];
    ResultCode result = LoadBlocks(run, variant, blocks);
    if (result != kOk) return result;
    FileDeltaStepIo io(run.host, input, outputFile.get(), blocks);
    DeltaStepOutcome outcome = ReconstructStep(variant.header, output.size, io);
    if (outcome.result != kOk) return static_cast<ResultCode>(outcome.result);
    if (!io.Flush()) return kDiskFull;
    if (!output.isFinal) return kOk;
    if (outcome.outputCrc != header.newCrc || outcome.outputSize != header.newSize) {
        return kChecksumMismatch;
    }
    return FlushStaged(outputFile.get());
}

// Rebuilds the new file from variant `first`, whose source the check found at
// firstInput; the later variants are applied to the previous step's output in turn.
ResultCode RebuildChain(ApplyRun& run, int section, const CurrentRecord& record, int first,
                        const std::string& firstInput) {
    const int count = record.fileHeader.sourceCount;
    std::string input = firstInput;
    for (int k = first; k < count; ++k) {
        const SourceVariant& variant = record.variants[k];
        ScopedFile inputFile(OpenForRead(input));
        if (!inputFile) return kInternalFileError;
        const bool isFinal = k == count - 1;
        StepOutput output{
            isFinal ? StagedPath(run.sections, section, record)
                    : JoinPath(run.sections.staging[section], NextIntermediateName(run)),
            isFinal ? record.fileHeader.newSize : record.variants[k + 1].header.sourceSize,
            isFinal};
        ResultCode result = RunStep(run, record.fileHeader, variant, inputFile.get(), output);
        inputFile.reset();
        if (k != first) DeleteFileForced(input);
        // A failed intermediate output would keep the staging directory alive.
        if (result != kOk && !isFinal) DeleteFileForced(output.path);
        if (result != kOk) return result;
        input = output.path;
    }
    return kOk;
}

ResultCode CheckChangedFile(ApplyRun& run, int section, const CurrentRecord& record,
                            TargetProbe& probe) {
    const std::string& target = run.sections.target[section];
    const RecordCheck check = CheckRecord(record, run.sections.backupName[section], probe);
    switch (check.verdict) {
        case CheckVerdict::kAlreadyNew:
            run.Show(MessageId::kAlreadyNew);
            return kOk;
        case CheckVerdict::kFromTarget:
        case CheckVerdict::kFromBackup: {
            ResultCode result = RebuildChain(run, section, record, check.variant,
                                             JoinPath(target, check.sourcePath));
            if (result == kOk) run.Show(MessageId::kDone);
            return result;
        }
        default:
            break;
    }
    run.Show(MessageId::kSourceMismatch);
    if (VerdictFailsRun(record, check.verdict)) return kNoMatchingSource;
    if ((record.fileHeader.fileFlags & kSilent) == 0) run.Show(MessageId::kOptionalSkipped);
    return kOk;
}

}  // namespace

bool HoldsNewVersion(const ApplyRun& run, int section, const CurrentRecord& record) {
    const FileFingerprint newFile{record.fileHeader.newSize, record.fileHeader.newCrc,
                                  record.newSkipOffset, record.newSkipLength};
    TargetProbe probe(run.sections.target[section]);
    return probe.Compare(record.fileName, newFile) == ProbeAnswer::kMatches;
}

ResultCode StageNewFile(ApplyRun& run, int section, const CurrentRecord& record) {
    const std::string staged = StagedPath(run.sections, section, record);
    MakeParentDirectories(staged);
    if (!run.payload.Seek(record.dataStart)) return kDiskFull;
    ScopedFile file(CreateNewFile(staged));
    if (!file || !run.payload.CopyToFile(record.newFileHeader.dataLength, file.get()) ||
        FlushStaged(file.get()) != kOk) {
        return kDiskFull;
    }
    file.reset();
    run.Show(MessageId::kDone);
    return kOk;
}

ResultCode CheckAndStage(ApplyRun& run, int section, const CurrentRecord& record) {
    run.host.PumpMessages();
    if (section != run.retiredSection) {
        run.retiredSection = section;
        run.retiredNames.clear();
    }
    switch (record.kind) {
        case RecordKind::kFile:
        case RecordKind::kNewFile:
            break;
        case RecordKind::kObsolete:
            run.retiredNames.push_back(record.fileName);
            return kOk;
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            return kOk;
    }
    // The staged file and the intermediate ones are written where the names
    // were checked, not through a link made since.
    DirectoryHold hold;
    if (!HoldStagedFilePath(run, section, record, &hold)) return kInternalFileError;
    run.Show(MessageId::kCheckingProgress);
    TargetProbe probe(run.sections.target[section]);
    switch (CheckPlace(record, run.retiredNames, probe)) {
        case PlaceState::kFree:
            break;
        case PlaceState::kTaken:
            return kNoMatchingSource;  // message 34: the new file cannot be made
        case PlaceState::kClearedDirectory:
            run.clearedPlaces.push_back(run.recordEnd);
            break;
    }
    const ResultCode result = record.kind == RecordKind::kFile
                                  ? CheckChangedFile(run, section, record, probe)
                                  : StageNewFile(run, section, record);
    if (result == kOk && PathNamesFile(StagedPath(run.sections, section, record))) {
        run.stagedRecords.push_back(run.recordEnd);
    }
    return result;
}
