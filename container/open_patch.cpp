// Opening the patch: trailer and header of the executable, extraction, and the
// notice and description texts at the head of the payload.
#include "container/open_patch.h"

#include <cstring>

#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "platform/cp950_text.h"
#include "platform/file_primitives.h"
#include "ui/window_services.h"

HANDLE gPatchExecutable = 0;

namespace {

constexpr char kNoticeCutMarker[] = "#%";
constexpr char kNoticeLineBreak = '\n';
constexpr char kDescriptionSeparator = 0x01;

int ReadTrailerAndHeader() {
    uint8_t bytes[kPatchHeaderSize];
    uint32_t size = FileSize(gPatchExecutable);
    if (size == INVALID_FILE_SIZE || size < kPayloadTrailerSize) return kUnreadablePatch;
    SeekTo(gPatchExecutable, size - kPayloadTrailerSize);
    if (!ReadBlock(gPatchExecutable, bytes, kPayloadTrailerSize)) return kUnreadablePatch;
    PayloadTrailer trailer;
    ParsePayloadTrailer(bytes, &trailer);
    if (!IsPlausibleTrailer(trailer, size)) return kUnreadablePatch;

    SeekTo(gPatchExecutable, size - trailer.payloadLength);
    if (!ReadBlock(gPatchExecutable, bytes, kPatchHeaderSize)) return kUnreadablePatch;
    ParsePatchHeader(bytes, &gPatchHeader);
    return gPatchHeader.headerMagic == kPayloadMagic ? kOk : kUnreadablePatch;
}

// Reads a text of `length` bytes at the payload's position, keeping at most
// `capacity` bytes of it (cut at a whole character); the position ends behind
// the whole text. Returns the number of bytes kept, or -1 when unreadable.
int ReadHeadText(uint32_t length, uint32_t capacity, char* buffer) {
    uint32_t start = PayloadPosition();
    uint32_t kept = length < capacity ? length : capacity;
    if (!ReadPayload(buffer, kept)) return -1;
    kept = static_cast<uint32_t>(Cp950CutLength(buffer, length, kept));
    buffer[kept] = '\0';
    return SeekPayload(start + length) ? static_cast<int>(kept) : -1;
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

int ReadTexts() {
    char notice[kNoticeCapacity + 1];
    char description[kDescriptionCapacity + 1];
    uint32_t textsEnd =
        static_cast<uint32_t>(gPatchHeader.noticeLength) + gPatchHeader.descriptionLength;
    // The texts must be there in full, even where only their heads are kept.
    if (FileSize(gPayloadFile) < textsEnd) return kNotAPatch;
    int noticeLength = ReadHeadText(gPatchHeader.noticeLength, kNoticeCapacity, notice);
    if (noticeLength < 0) return kNotAPatch;
    int descriptionLength =
        ReadHeadText(gPatchHeader.descriptionLength, kDescriptionCapacity, description);
    if (descriptionLength < 0) return kNotAPatch;
    gRecordsStart = textsEnd;

    PrepareNotice(notice, noticeLength);
    SetNoticeText(notice);
    if (gPatchHeader.descriptionLength == 0) return kOk;
    PrepareDescription(description, descriptionLength);
    ShowDescription(description);
    return kOk;
}

}  // namespace

int OpenPatch() {
    CloseFile(gPatchExecutable);
    gPatchExecutable = OpenForRead(gPatchPath);
    if (gPatchExecutable == 0) return kCannotOpenPatch;
    int result = ReadTrailerAndHeader();
    if (result == kOk) result = ExtractPayload();
    if (result == kOk) result = ReadTexts();
    return result;
}
