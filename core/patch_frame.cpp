#include "core/patch_frame.h"

#include "core/pe_layout.h"

FrameStatus ReadPatchFrame(ByteSource& file, PatchFrame* out) {
    *out = PatchFrame{};
    if (file.Size() < kPatchHeaderSize + kPayloadTrailerSize) return FrameStatus::kTooSmall;
    const uint32_t end = PayloadTrailerEnd(file);
    uint8_t bytes[kPatchHeaderSize];
    PayloadTrailer trailer{};
    if (end >= kPayloadTrailerSize && file.Seek(end - kPayloadTrailerSize) &&
        file.Read(bytes, kPayloadTrailerSize)) {
        ParsePayloadTrailer(bytes, &trailer);
    }
    if (!IsPlausibleTrailer(trailer, end)) return FrameStatus::kNoPayload;
    out->payloadEnd = end;
    out->headerStart = end - trailer.payloadLength;
    out->bodyStart = out->headerStart + kPatchHeaderSize;
    out->bodySize = trailer.payloadLength - kPatchHeaderSize - kPayloadTrailerSize;
    // Read last, so the source stands at the body.
    if (!file.Seek(out->headerStart) || !file.Read(bytes, kPatchHeaderSize)) {
        return FrameStatus::kDamagedHeader;
    }
    ParsePatchHeader(bytes, &out->header);
    return out->header.headerMagic == kPayloadMagic ? FrameStatus::kOk
                                                    : FrameStatus::kDamagedHeader;
}
