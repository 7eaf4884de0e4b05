#include "engine/file_check.h"

#include <string>

#include "core/delta_decoder.h"
#include "core/record_layout.h"
#include "engine/delta_step_files.h"
#include "engine/file_commit.h"
#include "engine/target_paths.h"
#include "platform/directory_hold.h"
#include "platform/file_primitives.h"

namespace {

// Intermediate outputs of a chain alternate between two names for the whole
// run, so a step never writes the file it reads.
const char* NextIntermediateName(ApplyRun& run) {
    run.firstIntermediate = !run.firstIntermediate;
    return run.firstIntermediate ? "BINTMP2.TMP" : "BINTMP1.TMP";
}

bool FileMatches(HANDLE file, uint32_t size, uint32_t crc, uint32_t skipOffset,
                 uint32_t skipLength) {
    uint32_t fileCrc = 0;
    return FileSize(file) == size && CrcOfFile(file, skipOffset, skipLength, &fileCrc) &&
           fileCrc == crc;
}

// Opens the first of T\name and T\B\name that holds this variant's source.
// A name missing under T is looked for in the backup too: a run ended between
// its two moves left the source there alone.
HANDLE OpenMatchingSource(const ApplyRun& run, const SourceVariant& variant) {
    const std::string candidates[] = {
        JoinPath(run.targetDirectory, variant.sourceName),
        JoinPath(JoinPath(run.targetDirectory, run.backupName), variant.sourceName)};
    for (const std::string& path : candidates) {
        ScopedFile file(OpenForRead(path));
        if (!file) continue;
        if (FileMatches(file.get(), variant.header.sourceSize, variant.header.sourceCrc,
                        variant.skipOffset, variant.skipLength)) {
            return file.release();
        }
    }
    return 0;
}

bool IsAlreadyNew(const ApplyRun& run) {
    ScopedFile file(OpenForRead(DestinationPath(run)));
    const CurrentRecord& record = run.record;
    return file && FileMatches(file.get(), record.fileHeader.newSize, record.fileHeader.newCrc,
                               record.newSkipOffset, record.newSkipLength);
}

// The five block files of a step, deleted when they are closed.
struct StepBlocks {
    ScopedFile files[kDeltaBlockCount];
    HANDLE handles[kDeltaBlockCount] = {};
};

ResultCode LoadBlocks(PayloadFile& payload, const SourceVariant& variant, StepBlocks* blocks) {
    if (!payload.Seek(variant.dataStart)) return kTempFull;
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        blocks->files[b].reset(CreateTempStreamFile());
        if (!blocks->files[b] ||
            !payload.CopyToFile(variant.header.blockLength[b], blocks->files[b].get())) {
            return kTempFull;
        }
        SeekTo(blocks->files[b].get(), 0);
        blocks->handles[b] = blocks->files[b].get();
    }
    return kOk;
}

struct StepOutput {
    std::string path;
    uint32_t size;
    bool isFinal;
};

ResultCode RunStep(ApplyRun& run, const SourceVariant& variant, HANDLE input,
                   const StepOutput& output) {
    ScopedFile outputFile;
    if (output.isFinal) {
        MakeParentDirectories(output.path);
    } else {
        DeleteFileForced(output.path);
    }
    outputFile.reset(CreateNewFile(output.path));
    if (!outputFile) return kDiskFull;
    StepBlocks blocks;
    ResultCode result = LoadBlocks(run.payload, variant, &blocks);
    if (result != kOk) return result;
    FileDeltaStepIo io(run.host, input, outputFile.get(), blocks.handles);
    DeltaStepOutcome outcome = ReconstructStep(variant.header, output.size, io);
    if (outcome.result != kOk) return static_cast<ResultCode>(outcome.result);
    if (!io.Flush()) return kDiskFull;
    const FileRecordHeader& header = run.record.fileHeader;
    if (output.isFinal &&
        (outcome.outputCrc != header.newCrc || outcome.outputSize != header.newSize)) {
        return kChecksumMismatch;
    }
    return kOk;
}

// Rebuilds the new file from the first variant whose source is on disk; the
// later variants are applied to the previous step's output in turn.
ResultCode RebuildChain(ApplyRun& run, int section, bool* built) {
    const CurrentRecord& record = run.record;
    const int count = record.fileHeader.sourceCount;
    std::string previousOutput;
    *built = false;
    for (int k = 0; k < count; ++k) {
        const SourceVariant& variant = record.variants[k];
        ScopedFile input(*built ? OpenForRead(previousOutput) : OpenMatchingSource(run, variant));
        if (!input) {
            if (*built) return kInternalFileError;
            continue;
        }
        const bool isFinal = k == count - 1;
        StepOutput output{
            isFinal ? StagedPath(run, section)
                    : JoinPath(run.sections.staging[section], NextIntermediateName(run)),
            isFinal ? record.fileHeader.newSize : record.variants[k + 1].header.sourceSize,
            isFinal};
        ResultCode result = RunStep(run, variant, input.get(), output);
        input.reset();
        if (*built) DeleteFileForced(previousOutput);
        // A failed intermediate output would keep the staging directory alive.
        if (result != kOk && !isFinal) DeleteFileForced(output.path);
        *built = true;
        if (result != kOk) return result;
        previousOutput = output.path;
    }
    return kOk;
}

ResultCode CheckChangedFile(ApplyRun& run, int section) {
    run.Show(MessageId::kCheckingProgress);
    if (IsAlreadyNew(run)) {
        run.Show(MessageId::kAlreadyNew);
        return kOk;
    }
    bool built = false;
    ResultCode result = RebuildChain(run, section, &built);
    if (result != kOk) return result;
    if (built) {
        run.Show(MessageId::kDone);
        return kOk;
    }
    run.Show(MessageId::kSourceMismatch);
    const uint8_t flags = run.record.fileHeader.fileFlags;
    if ((flags & kOptional) == 0) return kNoMatchingSource;
    if ((flags & kSilent) == 0) run.Show(MessageId::kOptionalSkipped);
    return kOk;
}

}  // namespace

bool HoldsNewVersion(const ApplyRun& run) { return IsAlreadyNew(run); }

ResultCode StageNewFile(ApplyRun& run, int section) {
    const std::string staged = StagedPath(run, section);
    MakeParentDirectories(staged);
    if (!run.payload.Seek(run.record.dataStart)) return kDiskFull;
    ScopedFile file(CreateNewFile(staged));
    if (!file || !run.payload.CopyToFile(run.record.newFileHeader.dataLength, file.get())) {
        return kDiskFull;
    }
    file.reset();
    run.Show(MessageId::kDone);
    return kOk;
}

ResultCode CheckAndStage(ApplyRun& run, int section, uint8_t kind) {
    run.host.PumpMessages();
    // The walker reads on from where this record ends, whatever was read here.
    const uint32_t nextRecord = run.payload.Position();
    // The staged file and the intermediate ones are written where the names
    // were checked, not through a link made since.
    DirectoryHold hold;
    if ((kind == kFileRecord || kind == kNewFileRecord) &&
        !HoldStagedFilePath(run, section, &hold)) {
        return kInternalFileError;
    }
    ResultCode result = kOk;
    if (kind == kFileRecord) {
        result = CheckChangedFile(run, section);
    } else if (kind == kNewFileRecord) {
        run.Show(MessageId::kCheckingProgress);
        result = StageNewFile(run, section);
    }
    if (result == kOk && (kind == kFileRecord || kind == kNewFileRecord) &&
        PathNamesFile(StagedPath(run, section))) {
        run.stagedRecords.push_back(nextRecord);
    }
    run.payload.Seek(nextRecord);
    return result;
}
