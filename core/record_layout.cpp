#include "core/record_layout.h"

#include "core/byte_order.h"

void ParseFileRecordHeader(const uint8_t bytes[kFileRecordHeaderSize], FileRecordHeader* out) {
    out->newCrc = LoadLe32(bytes);
    out->newSize = LoadLe32(bytes + 4);
    out->newTime = LoadLe32(bytes + 8);
    out->attributes = LoadLe16(bytes + 12);
    out->sourceCount = LoadLe16(bytes + 14);
    out->fileFlags = bytes[16];
    out->reserved = bytes[17];
}

void SerializeFileRecordHeader(const FileRecordHeader& h, uint8_t bytes[kFileRecordHeaderSize]) {
    StoreLe32(bytes, h.newCrc);
    StoreLe32(bytes + 4, h.newSize);
    StoreLe32(bytes + 8, h.newTime);
    StoreLe16(bytes + 12, h.attributes);
    StoreLe16(bytes + 14, h.sourceCount);
    bytes[16] = h.fileFlags;
    bytes[17] = h.reserved;
}

void ParseVariantHeader(const uint8_t bytes[kVariantHeaderSize], VariantHeader* out) {
    out->sourceCrc = LoadLe32(bytes);
    out->sourceSize = LoadLe32(bytes + 4);
    for (int i = 0; i < kDeltaBlockCount; ++i) out->blockLength[i] = LoadLe32(bytes + 8 + 4 * i);
    out->groupSize = LoadLe16(bytes + 28);
    out->deltaFlags = bytes[30];
    out->chunkSize = bytes[31];
}

void SerializeVariantHeader(const VariantHeader& h, uint8_t bytes[kVariantHeaderSize]) {
    StoreLe32(bytes, h.sourceCrc);
    StoreLe32(bytes + 4, h.sourceSize);
    for (int i = 0; i < kDeltaBlockCount; ++i) StoreLe32(bytes + 8 + 4 * i, h.blockLength[i]);
    StoreLe16(bytes + 28, h.groupSize);
    bytes[30] = h.deltaFlags;
    bytes[31] = h.chunkSize;
}

void ParseNewFileHeader(const uint8_t bytes[kNewFileHeaderSize], NewFileHeader* out) {
    out->dataLength = LoadLe32(bytes);
    out->newTime = LoadLe32(bytes + 4);
    out->attributes = LoadLe16(bytes + 8);
}

void SerializeNewFileHeader(const NewFileHeader& h, uint8_t bytes[kNewFileHeaderSize]) {
    StoreLe32(bytes, h.dataLength);
    StoreLe32(bytes + 4, h.newTime);
    StoreLe16(bytes + 8, h.attributes);
}

uint64_t VariantDataLength(const VariantHeader& h) {
    uint64_t total = 0;
    for (int i = 0; i < kDeltaBlockCount; ++i) total += h.blockLength[i];
    return total;
}
