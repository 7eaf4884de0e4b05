#include "engine/file_check.h"

#include <string>

#include "container/pass_runner.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/delta_decoder.h"
#include "core/record_layout.h"
#include "core/result_codes.h"
#include "engine/delta_step_files.h"
#include "engine/target_paths.h"
#include "messages/log_writer.h"
#include "platform/file_primitives.h"
#include "ui/window_services.h"

namespace {

// Intermediate outputs of a chain alternate between two names for the life of
// the process, so a step never writes the file it reads.
const char* NextIntermediateName() {
    static bool useFirst = false;
    useFirst = !useFirst;
    return useFirst ? "BINTMP2.TMP" : "BINTMP1.TMP";
}

bool FileMatches(HANDLE file, uint32_t size, uint32_t crc, uint32_t skipOffset,
                 uint32_t skipLength) {
    return FileSize(file) == size && CrcOfFile(file, skipOffset, skipLength) == crc;
}

// Opens the first of T\name and T\B\name that holds this variant's source.
// A name missing under T is not looked for in the backup.
HANDLE OpenMatchingSource(const SourceVariant& variant) {
    const std::string candidates[] = {
        JoinPath(gTargetDirectory, variant.sourceName),
        JoinPath(JoinPath(gTargetDirectory, gBackupName), variant.sourceName)};
    for (const std::string& path : candidates) {
        ScopedFile file(OpenForRead(path));
        if (!file) return 0;
        if (FileMatches(file.get(), variant.header.sourceSize, variant.header.sourceCrc,
                        variant.skipOffset, variant.skipLength)) {
            return file.release();
        }
    }
    return 0;
}

bool IsAlreadyNew() {
    ScopedFile file(OpenForRead(DestinationPath()));
    const CurrentRecord& record = gCurrentRecord;
    return file && FileMatches(file.get(), record.fileHeader.newSize, record.fileHeader.newCrc,
                               record.newSkipOffset, record.newSkipLength);
}

// The five block files of a step, deleted when they are closed.
struct StepBlocks {
    ScopedFile files[kDeltaBlockCount];
    HANDLE handles[kDeltaBlockCount] = {};
};

int LoadBlocks(const SourceVariant& variant, StepBlocks* blocks) {
    if (!SeekPayload(variant.dataStart)) return kTempFull;
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        blocks->files[b].reset(CreateTempStreamFile());
        if (!blocks->files[b] ||
            !CopyPayloadToFile(variant.header.blockLength[b], blocks->files[b].get())) {
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

int RunStep(const SourceVariant& variant, HANDLE input, const StepOutput& output) {
    ScopedFile outputFile;
    if (output.isFinal) {
        MakeParentDirectories(output.path);
    } else {
        DeleteFileForced(output.path);
    }
    outputFile.reset(CreateNewFile(output.path));
    if (!outputFile) return kDiskFull;
    StepBlocks blocks;
    int result = LoadBlocks(variant, &blocks);
    if (result != kOk) return result;
    FileDeltaStepIo io(input, outputFile.get(), blocks.handles);
    DeltaStepOutcome outcome = ReconstructStep(variant.header, output.size, io);
    if (outcome.result != kOk) return outcome.result;
    if (!io.Flush()) return kDiskFull;
    const FileRecordHeader& header = gCurrentRecord.fileHeader;
    if (output.isFinal &&
        (outcome.outputCrc != header.newCrc || outcome.outputSize != header.newSize)) {
        return kChecksumMismatch;
    }
    return kOk;
}

// Rebuilds the new file from the first variant whose source is on disk; the
// later variants are applied to the previous step's output in turn.
int RebuildChain(int section, bool* built) {
    const CurrentRecord& record = gCurrentRecord;
    const int count = record.fileHeader.sourceCount;
    std::string previousOutput;
    *built = false;
    for (int k = 0; k < count; ++k) {
        const SourceVariant& variant = record.variants[k];
        ScopedFile input(*built ? OpenForRead(previousOutput) : OpenMatchingSource(variant));
        if (!input) {
            if (*built) return kInternalFileError;
            continue;
        }
        const bool isFinal = k == count - 1;
        StepOutput output{
            isFinal ? StagedPath(section)
                    : JoinPath(gSections.staging[section], NextIntermediateName()),
            isFinal ? record.fileHeader.newSize : record.variants[k + 1].header.sourceSize,
            isFinal};
        int result = RunStep(variant, input.get(), output);
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

int CheckChangedFile(int section) {
    ShowInfo(kCheckingProgress);
    if (IsAlreadyNew()) {
        ShowInfo(kAlreadyNew);
        return kOk;
    }
    bool built = false;
    int result = RebuildChain(section, &built);
    if (result != kOk) return result;
    if (built) {
        ShowInfo(kDone);
        return kOk;
    }
    ShowInfo(kSourceMismatch);
    const uint8_t flags = gCurrentRecord.fileHeader.fileFlags;
    if ((flags & kOptional) == 0) return kNoMatchingSource;
    if ((flags & kSilent) == 0) ShowInfo(kOptionalSkipped);
    return kOk;
}

}  // namespace

int StageNewFile(int section) {
    const std::string staged = StagedPath(section);
    MakeParentDirectories(staged);
    if (!SeekPayload(gCurrentRecord.dataStart)) return kDiskFull;
    ScopedFile file(CreateNewFile(staged));
    if (!file || !CopyPayloadToFile(gCurrentRecord.newFileHeader.dataLength, file.get())) {
        return kDiskFull;
    }
    file.reset();
    ShowInfo(kDone);
    return kOk;
}

int CheckAndStage(int section, uint8_t kind) {
    PumpMessages();
    // The walker reads on from where this record ends, whatever was read here.
    const uint32_t nextRecord = PayloadPosition();
    int result = kOk;
    if (kind == kFileRecord) {
        result = CheckChangedFile(section);
    } else if (kind == kNewFileRecord) {
        ShowInfo(kCheckingProgress);
        result = StageNewFile(section);
    }
    SeekPayload(nextRecord);
    return result;
}
