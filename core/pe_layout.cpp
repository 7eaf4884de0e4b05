#include "core/pe_layout.h"

#include "core/byte_order.h"

namespace {

constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kOptionalHeaderSizeField = 16;  // within the COFF header
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kMinCertificateSize = 8;  // a WIN_CERTIFICATE header

bool ReadAt(ByteSource& file, uint32_t position, void* buffer, uint32_t count) {
    return file.Seek(position) && file.Read(buffer, count);
}

// The security directory's file offset and size, or false when the headers
// are not those of a PE image or have no such entry.
bool ReadSecurityDirectory(ByteSource& file, uint32_t* offset, uint32_t* size,
                           uint64_t* headersEnd) {
    uint8_t dos[kPeOffsetField + 4];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t pe = LoadLe32(dos + kPeOffsetField);
    uint8_t coff[4 + kCoffHeaderSize];
    if (!ReadAt(file, pe, coff, sizeof coff) || LoadLe32(coff) != 0x00004550u) return false;
    uint16_t optionalSize = LoadLe16(coff + 4 + kOptionalHeaderSizeField);
    uint64_t optionalStart = static_cast<uint64_t>(pe) + sizeof coff;
    *headersEnd = optionalStart + optionalSize;

    uint8_t magic[2];
    if (optionalStart > UINT32_MAX || !ReadAt(file, uint32_t(optionalStart), magic, 2))
        return false;
    uint32_t countField;
    if (LoadLe16(magic) == kPe32Magic) {
        countField = 92;
    } else if (LoadLe16(magic) == kPe32PlusMagic) {
        countField = 108;
    } else {
        return false;
    }
    // The directory count, then 8 bytes per directory, all inside the
    // optional header.
    uint32_t entry = countField + 4 + kSecurityDirectory * 8;
    if (entry + 8 > optionalSize) return false;
    uint8_t count[4];
    uint8_t directory[8];
    if (!ReadAt(file, uint32_t(optionalStart) + countField, count, 4) ||
        LoadLe32(count) <= kSecurityDirectory ||
        !ReadAt(file, uint32_t(optionalStart) + entry, directory, 8))
        return false;
    *offset = LoadLe32(directory);
    *size = LoadLe32(directory + 4);
    return true;
}

}  // namespace

uint32_t PayloadTrailerEnd(ByteSource& file) {
    const uint32_t fileSize = file.Size();
    uint32_t offset = 0;
    uint32_t size = 0;
    uint64_t headersEnd = 0;
    if (!ReadSecurityDirectory(file, &offset, &size, &headersEnd)) return fileSize;
    // Only a table that starts behind the headers and ends the file counts.
    if (size < kMinCertificateSize || offset < headersEnd ||
        static_cast<uint64_t>(offset) + size != fileSize)
        return fileSize;

    uint8_t padding[kCertificateAlignment - 1];
    uint32_t span = offset < sizeof padding ? offset : uint32_t(sizeof padding);
    if (!ReadAt(file, offset - span, padding, span)) return offset;
    // The trailer ends in the magic value's high byte, never zero, so the
    // zeros in front of the table are padding.
    uint32_t end = offset;
    while (end > offset - span && padding[end - (offset - span) - 1] == 0) --end;
    return end;
}

uint32_t PaddingBeforePayload(uint64_t stubSize, uint64_t payloadLength) {
    return static_cast<uint32_t>(
        (kCertificateAlignment - (stubSize + payloadLength) % kCertificateAlignment) %
        kCertificateAlignment);
}
