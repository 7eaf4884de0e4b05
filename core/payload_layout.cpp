#include "core/payload_layout.h"

#include <cstring>

#include "core/byte_order.h"

void ParsePayloadTrailer(const uint8_t bytes[kPayloadTrailerSize], PayloadTrailer* out) {
    out->payloadLength = LoadLe32(bytes);
    out->trailerMagic = LoadLe32(bytes + 4);
}

void SerializePayloadTrailer(const PayloadTrailer& trailer, uint8_t bytes[kPayloadTrailerSize]) {
    StoreLe32(bytes, trailer.payloadLength);
    StoreLe32(bytes + 4, trailer.trailerMagic);
}

void ParsePatchHeader(const uint8_t bytes[kPatchHeaderSize], PatchHeader* out) {
    out->headerMagic = LoadLe32(bytes);
    out->builderValue = LoadLe32(bytes + 4);
    out->builderByte = bytes[8];
    out->payloadFlags = bytes[9];
    std::memcpy(out->opaqueBlock, bytes + 10, kOpaqueBlockSize);
    out->noticeLength = LoadLe16(bytes + 74);
    out->descriptionLength = LoadLe16(bytes + 76);
}

void SerializePatchHeader(const PatchHeader& header, uint8_t bytes[kPatchHeaderSize]) {
    StoreLe32(bytes, header.headerMagic);
    StoreLe32(bytes + 4, header.builderValue);
    bytes[8] = header.builderByte;
    bytes[9] = header.payloadFlags;
    std::memcpy(bytes + 10, header.opaqueBlock, kOpaqueBlockSize);
    StoreLe16(bytes + 74, header.noticeLength);
    StoreLe16(bytes + 76, header.descriptionLength);
}

bool IsPlausibleTrailer(const PayloadTrailer& trailer, uint64_t fileSize) {
    return trailer.trailerMagic == kPayloadMagic &&
           trailer.payloadLength >= kPatchHeaderSize + kPayloadTrailerSize &&
           trailer.payloadLength <= fileSize;
}

void WriteIntegrityRecord(const IntegrityRecord& record, uint8_t block[kOpaqueBlockSize]) {
    std::memset(block, 0, kOpaqueBlockSize);
    std::memcpy(block, kIntegrityTag, sizeof kIntegrityTag);
    StoreLe32(block + 4, record.payloadLength);
    StoreLe32(block + 8, record.payloadCrc);
}

bool ReadIntegrityRecord(const uint8_t block[kOpaqueBlockSize], IntegrityRecord* out) {
    if (std::memcmp(block, kIntegrityTag, sizeof kIntegrityTag) != 0) return false;
    out->payloadLength = LoadLe32(block + 4);
    out->payloadCrc = LoadLe32(block + 8);
    return true;
}
