// Byte layout of the payload appended to the applier's image:
//   program image | PatchHeader (78) | body | PayloadTrailer (8)
// PayloadLength counts from the first header byte to the end of the file.
#pragma once
#include <cstdint>

constexpr uint32_t kPayloadMagic = 0x3E7F8443u;
constexpr uint32_t kPatchHeaderSize = 78;
constexpr uint32_t kPayloadTrailerSize = 8;
constexpr uint32_t kOpaqueBlockSize = 64;
constexpr uint8_t kPayloadCompressed = 0x01;  // PayloadFlags bit 0: body is raw deflate

// Limits of the texts at the head of the inflated payload.
constexpr uint32_t kNoticeCapacity = 1000;
constexpr uint32_t kDescriptionCapacity = 1002;

// The integrity record the builder writes at the start of the OpaqueBlock:
// tag, then the inflated payload's length and CRC value (u32 each). The rest
// of the block stays zero. Without the tag a patch is taken as it is.
constexpr uint8_t kIntegrityTag[4] = {'I', 'N', 'T', '1'};
constexpr uint32_t kIntegrityRecordSize = 12;

struct IntegrityRecord {
    uint32_t payloadLength;  // bytes of the inflated payload: texts and record stream
    uint32_t payloadCrc;     // CRC value over them, as core/crc.h computes it
};

struct PayloadTrailer {
    uint32_t payloadLength;
    uint32_t trailerMagic;
};

struct PatchHeader {
    uint32_t headerMagic;
    uint32_t builderValue;
    uint8_t builderByte;
    uint8_t payloadFlags;
    uint8_t opaqueBlock[kOpaqueBlockSize];
    uint16_t noticeLength;
    uint16_t descriptionLength;
};

void ParsePayloadTrailer(const uint8_t bytes[kPayloadTrailerSize], PayloadTrailer* out);
void SerializePayloadTrailer(const PayloadTrailer& trailer, uint8_t bytes[kPayloadTrailerSize]);
void ParsePatchHeader(const uint8_t bytes[kPatchHeaderSize], PatchHeader* out);
void SerializePatchHeader(const PatchHeader& header, uint8_t bytes[kPatchHeaderSize]);

void WriteIntegrityRecord(const IntegrityRecord& record, uint8_t block[kOpaqueBlockSize]);
// True when the block starts with the tag; *out then holds the record.
bool ReadIntegrityRecord(const uint8_t block[kOpaqueBlockSize], IntegrityRecord* out);

// True when a trailer read from a file of fileSize bytes can frame a payload:
// magic matches and the length covers header and trailer within the file.
bool IsPlausibleTrailer(const PayloadTrailer& trailer, uint64_t fileSize);
