#include "builder/lib/stub_signature.h"

#include <algorithm>
#include <cstring>

#include "core/byte_order.h"
#include "core/pe_layout.h"

namespace {

constexpr uint32_t kPeOffsetField = 0x3C;
constexpr uint32_t kCoffHeaderSize = 20;
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kPe32PlusMagic = 0x20B;
constexpr uint32_t kChecksumOffset = 64;  // in the optional header, either form
constexpr uint32_t kSecurityDirectory = 4;
constexpr uint32_t kDirectoryEntrySize = 8;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kMinCertificateSize = 8;  // a WIN_CERTIFICATE header

struct SecurityEntry {
    uint64_t entry = 0;     // file offset of the directory entry
    uint64_t checksum = 0;  // file offset of the image checksum
    uint64_t imageEnd = 0;  // end of the headers and of every section's data
};

// False when the headers hold no security directory entry.
bool FindSecurityEntry(const Bytes& stub, SecurityEntry* found) {
    if (stub.size() < kPeOffsetField + 4 || stub[0] != 'M' || stub[1] != 'Z') return false;
    const uint64_t pe = LoadLe32(stub.data() + kPeOffsetField);
    const uint64_t optional = pe + 4 + kCoffHeaderSize;
    if (optional + 2 > stub.size() || std::memcmp(stub.data() + pe, "PE\0\0", 4) != 0) return false;
    const uint16_t sections = LoadLe16(stub.data() + pe + 6);
    const uint16_t optionalSize = LoadLe16(stub.data() + pe + 4 + 16);
    const uint16_t magic = LoadLe16(stub.data() + optional);
    const uint32_t countField = magic == kPe32Magic ? 92 : magic == kPe32PlusMagic ? 108 : 0;
    const uint64_t entry = countField + 4 + kSecurityDirectory * kDirectoryEntrySize;
    if (countField == 0 || entry + kDirectoryEntrySize > optionalSize ||
        optional + optionalSize > stub.size() ||
        LoadLe32(stub.data() + optional + countField) <= kSecurityDirectory) {
        return false;
    }
    found->entry = optional + entry;
    found->checksum = optional + kChecksumOffset;
    found->imageEnd = optional + optionalSize + uint64_t{sections} * kSectionHeaderSize;
    for (uint16_t k = 0; k < sections; ++k) {
        const uint64_t at = optional + optionalSize + uint64_t{k} * kSectionHeaderSize;
        if (at + kSectionHeaderSize > stub.size()) break;
        const uint64_t end =
            uint64_t{LoadLe32(stub.data() + at + 20)} + LoadLe32(stub.data() + at + 16);
        found->imageEnd = std::max(found->imageEnd, end);
    }
    return true;
}

// The image checksum as Windows computes it: 16-bit words summed with their
// carries folded in, the checksum field itself left out, plus the length.
uint32_t ImageChecksum(const Bytes& image, uint64_t field) {
    uint64_t sum = 0;
    for (uint64_t i = 0; i < image.size(); i += 2) {
        if (i == field || i == field + 2) continue;
        sum += image[i] | (i + 1 < image.size() ? image[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + image.size());
}

}  // namespace

StubSignature StripStubSignature(Bytes* stub, uint32_t* removed) {
    *removed = 0;
    SecurityEntry s;
    if (!FindSecurityEntry(*stub, &s)) return StubSignature::kUnsigned;
    const uint32_t offset = LoadLe32(stub->data() + s.entry);
    const uint32_t size = LoadLe32(stub->data() + s.entry + 4);
    // Only a table behind the image that ends the file is one, as for the
    // applier (core/pe_layout.h); anything else is left alone.
    if (size < kMinCertificateSize || offset < s.imageEnd ||
        uint64_t{offset} + size != stub->size()) {
        return StubSignature::kUnsigned;
    }
    uint64_t end = offset;
    while (end > s.imageEnd && offset - end < kCertificateAlignment - 1 && (*stub)[end - 1] == 0) {
        --end;
    }
    *removed = static_cast<uint32_t>(stub->size() - end);
    stub->resize(end);
    StoreLe32(stub->data() + s.entry, 0);
    StoreLe32(stub->data() + s.entry + 4, 0);
    // Signing recomputed the checksum; so the applier gets its own back. One
    // left at zero (not checked for programs) stays zero.
    if (LoadLe32(stub->data() + s.checksum) != 0) {
        StoreLe32(stub->data() + s.checksum, ImageChecksum(*stub, s.checksum));
    }
    return StubSignature::kStripped;
}
