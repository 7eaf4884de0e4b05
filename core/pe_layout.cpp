#include "core/pe_layout.h"

#include "core/byte_order.h"

namespace {

constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kPeSignature = 0x00004550u;  // "PE\0\0"
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint32_t kSectionCountField = 2;         // within the COFF header
constexpr uint32_t kOptionalHeaderSizeField = 16;  // within the COFF header
constexpr uint32_t kSubsystemField = 68;           // within the optional header
constexpr uint32_t kPe32DirectoryCountField = 92;
constexpr uint32_t kPe32PlusDirectoryCountField = 108;
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kSectionRawSizeField = 16;
constexpr uint32_t kSectionRawOffsetField = 20;
constexpr uint32_t kMinCertificateSize = 8;  // a WIN_CERTIFICATE header

bool ReadAt(ByteSource& file, uint64_t position, void* buffer, uint32_t count) {
    return position <= UINT32_MAX && file.Seek(static_cast<uint32_t>(position)) &&
           file.Read(buffer, count);
}

// The security directory entry, read only when the optional header holds it.
void ReadSecurityDirectory(ByteSource& file, PeHeaders* pe) {
    uint32_t countField;
    if (pe->optionalMagic == kPe32Magic) {
        countField = kPe32DirectoryCountField;
    } else if (pe->optionalMagic == kPe32PlusMagic) {
        countField = kPe32PlusDirectoryCountField;
    } else {
        return;
    }
    // The directory count, then 8 bytes per directory, all inside the
    // optional header.
    uint32_t entry = countField + 4 + kSecurityDirectory * kDirectoryEntrySize;
    if (entry + kDirectoryEntrySize > pe->optionalSize) return;
    uint8_t count[4];
    uint8_t directory[kDirectoryEntrySize];
    if (!ReadAt(file, pe->optionalStart + countField, count, 4) ||
        LoadLe32(count) <= kSecurityDirectory ||
        !ReadAt(file, pe->optionalStart + entry, directory, kDirectoryEntrySize))
        return;
    pe->hasSecurityDirectory = true;
    pe->securityOffset = LoadLe32(directory);
    pe->securitySize = LoadLe32(directory + 4);
}

}  // namespace

PeStatus ReadPeHeaders(ByteSource& file, PeHeaders* out) {
    *out = PeHeaders{};
    uint8_t dos[kPeOffsetField + 4];
    if (!ReadAt(file, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return PeStatus::kNoDosHeader;
    }
    const uint32_t pe = LoadLe32(dos + kPeOffsetField);
    uint8_t coff[4 + kCoffHeaderSize];
    if (!ReadAt(file, pe, coff, sizeof coff) || LoadLe32(coff) != kPeSignature) {
        return PeStatus::kNoPeHeader;
    }
    out->machine = LoadLe16(coff + 4);
    out->sectionCount = LoadLe16(coff + 4 + kSectionCountField);
    out->optionalSize = LoadLe16(coff + 4 + kOptionalHeaderSizeField);
    out->optionalStart = static_cast<uint64_t>(pe) + sizeof coff;

    uint8_t field[2];
    if (ReadAt(file, out->optionalStart, field, 2)) out->optionalMagic = LoadLe16(field);
    if (ReadAt(file, out->optionalStart + kSubsystemField, field, 2)) {
        out->hasSubsystem = true;
        out->subsystem = LoadLe16(field);
    }
    ReadSecurityDirectory(file, out);
    return PeStatus::kOk;
}

bool ReadSectionDataEnd(ByteSource& file, const PeHeaders& pe, uint32_t limit, uint64_t* end) {
    *end = 0;
    if (pe.optionalStart > limit) return false;
    const uint64_t table = pe.optionalStart + pe.optionalSize;
    for (uint16_t k = 0; k < pe.sectionCount; ++k) {
        const uint64_t at = table + uint64_t{k} * kSectionHeaderSize;
        uint8_t header[kSectionHeaderSize];
        if (at + kSectionHeaderSize > limit || !ReadAt(file, at, header, sizeof header)) {
            return false;
        }
        const uint64_t dataEnd = uint64_t{LoadLe32(header + kSectionRawOffsetField)} +
                                 LoadLe32(header + kSectionRawSizeField);
        if (dataEnd > *end) *end = dataEnd;
    }
    return true;
}

uint32_t PayloadTrailerEnd(ByteSource& file) {
    const uint32_t fileSize = file.Size();
    PeHeaders pe;
    if (ReadPeHeaders(file, &pe) != PeStatus::kOk || !pe.hasSecurityDirectory) return fileSize;
    const uint32_t offset = pe.securityOffset;
    const uint32_t size = pe.securitySize;
    // Only a table that starts behind the headers and ends the file counts.
    if (size < kMinCertificateSize || offset < pe.optionalStart + pe.optionalSize ||
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
