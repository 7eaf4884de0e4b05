// Opening the patch: trailer and header of the executable, extraction, and the
// notice and description texts at the head of the payload.
#include "container/open_patch.h"

#include "core/cp950.h"
#include "core/patch_frame.h"

namespace {

// The executable's headers, read through the file primitives.
class ExecutableSource : public ByteSource {
  public:
    ExecutableSource(HANDLE file, uint32_t size) : file_(file), size_(size) {}
    bool Read(void* buffer, uint32_t count) override {
        if (!ReadBlock(file_, buffer, count)) return false;
        position_ += count;
        return true;
    }
    bool Seek(uint32_t position) override {
        if (position > size_ || SeekTo(file_, position) != position) return false;
        position_ = position;
        return true;
    }
    uint32_t Position() override { return position_; }
    uint32_t Size() override { return size_; }

  private:
    HANDLE file_;
    uint32_t size_;
    uint32_t position_ = 0;
};

constexpr char kNoticeCutMarker[] = "#%";
constexpr char kNoticeLineBreak = '\n';

ResultCode ReadTrailerAndHeader(OpenedPatch* patch) {
    const HANDLE executable = patch->executable.get();
    // FileSize reports failure as 0; a patch is never past 4 GiB.
    const uint64_t fileSize = FileSize(executable);
    if (fileSize > UINT32_MAX) return kUnreadablePatch;
    ExecutableSource source(executable, static_cast<uint32_t>(fileSize));
    PatchFrame frame;
    if (ReadPatchFrame(source, &frame) != FrameStatus::kOk) return kUnreadablePatch;
    patch->header = frame.header;
    patch->payloadEnd = frame.payloadEnd;
    // Extraction starts at the body, where the frame's reader left the file.
    return kOk;
}

// Reads a text of `length` bytes at the payload's position, keeping at most
// `capacity` bytes of it (cut at a whole character); the position ends behind
// the whole text. Returns the number of bytes kept, or -1 when unreadable.
int ReadHeadText(PayloadFile& payload, uint32_t length, uint32_t capacity, char* buffer) {
    uint32_t start = payload.Position();
    uint32_t kept = length < capacity ? length : capacity;
    if (!payload.Read(buffer, kept)) return -1;
    kept = static_cast<uint32_t>(Cp950CutLength(buffer, length, kept));
    buffer[kept] = '\0';
    return payload.Seek(start + length) ? static_cast<int>(kept) : -1;
}

// The notice shows what stands before its first "#%", with NULs as line breaks.
void PrepareNotice(char* notice, int length) {
    for (int i = 0; i < length; ++i) {
        if (notice[i] == kNoticeCutMarker[0] && i + 1 < length &&
            notice[i + 1] == kNoticeCutMarker[1]) {
            notice[i] = '\0';
            return;
        }
        if (notice[i] == '\0') notice[i] = kNoticeLineBreak;
    }
}

void PrepareDescription(char* description, int length) {
    for (int i = 0; i < length; ++i) {
        if (description[i] == '\0') description[i] = kDescriptionSeparator;
    }
}

ResultCode ReadTexts(OpenedPatch* patch, PatchTexts* texts) {
    char notice[kNoticeCapacity + 1];
    char description[kDescriptionCapacity + 1];
    const PatchHeader& header = patch->header;
    uint32_t textsEnd = static_cast<uint32_t>(header.noticeLength) + header.descriptionLength;
    // The texts must be there in full, even where only their heads are kept.
    if (patch->payload.Size() < textsEnd) return kNotAPatch;
    int noticeLength = ReadHeadText(patch->payload, header.noticeLength, kNoticeCapacity, notice);
    if (noticeLength < 0) return kNotAPatch;
    int descriptionLength =
        ReadHeadText(patch->payload, header.descriptionLength, kDescriptionCapacity, description);
    if (descriptionLength < 0) return kNotAPatch;
    patch->recordsStart = textsEnd;

    PrepareNotice(notice, noticeLength);
    texts->notice = notice;
    texts->description.clear();
    if (header.descriptionLength == 0) return kOk;
    PrepareDescription(description, descriptionLength);
    texts->description = description;
    return kOk;
}

}  // namespace

ResultCode OpenPatch(OpenedPatch* patch, PatchTexts* texts) {
    patch->executable.reset(OpenForRead(patch->path));
    if (!patch->executable) return kCannotOpenPatch;
    ResultCode result = ReadTrailerAndHeader(patch);
    if (result == kOk) result = ExtractPayload(patch);
    if (result == kOk) result = ReadTexts(patch, texts);
    return result;
}
