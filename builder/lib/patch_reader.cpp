#include "builder/lib/patch_reader.h"

#include <zlib.h>

#include <cstring>

#include "builder/lib/delta_encoder.h"
#include "builder/lib/memory_step_io.h"
#include "core/byte_order.h"
#include "core/crc.h"
#include "core/delta_decoder.h"
#include "core/pe_layout.h"
#include "core/registry_script.h"
#include "core/result_codes.h"

namespace {

constexpr int kInflateWindowBits = -15;
constexpr size_t kInflatePiece = 64 * 1024;

bool Inflate(const uint8_t* data, size_t size, uint64_t limit, Bytes* out, std::string* error) {
    z_stream z{};
    if (inflateInit2(&z, kInflateWindowBits) != Z_OK) {
        *error = "zlib cannot start";
        return false;
    }
    z.next_in = const_cast<uint8_t*>(data);
    z.avail_in = static_cast<uInt>(size);
    int result = Z_OK;
    uint8_t piece[kInflatePiece];
    while (result == Z_OK) {
        z.next_out = piece;
        z.avail_out = sizeof piece;
        result = inflate(&z, Z_NO_FLUSH);
        size_t produced = sizeof piece - z.avail_out;
        if (out->size() + produced > limit) {
            inflateEnd(&z);
            *error = "the payload inflates to more than " + std::to_string(limit) +
                     " bytes, far beyond its compressed size; refused";
            return false;
        }
        out->insert(out->end(), piece, piece + produced);
        if (result == Z_BUF_ERROR && z.avail_in == 0) break;
    }
    size_t left = z.avail_in;
    inflateEnd(&z);
    if (result != Z_STREAM_END) {
        *error = "the compressed payload is damaged or cut short";
        return false;
    }
    if (left != 0) {
        *error = "bytes follow the end of the compressed payload";
        return false;
    }
    return true;
}

bool ReadLocation(ByteSource& source, PatchContents* out, std::string* error) {
    LocationRecord location;
    if (!ReadLocationRecord(source, &location)) {
        *error = "the location record is cut short";
        return false;
    }
    if (location.flags & kMoreLocations) {
        *error = "the patch has more than one section, which this tool does not read";
        return false;
    }
    out->location.kind = location.kind;
    out->location.rootKey = location.rootKey;
    out->location.keyPath = location.keyPath;
    out->location.valueName = location.valueName;
    return true;
}

// Where the sections of the PE image at the file's start end, or 0 when the
// headers cannot be read.
uint64_t SectionDataEnd(const Bytes& file, uint32_t imageLimit) {
    constexpr uint32_t kPeOffsetField = 0x3C, kFileHeaderSize = 20, kSectionHeaderSize = 40;
    if (imageLimit < kPeOffsetField + 4 || imageLimit > file.size()) return 0;
    const uint64_t pe = LoadLe32(file.data() + kPeOffsetField);
    if (pe + 4 + kFileHeaderSize > imageLimit) return 0;
    const uint8_t* header = file.data() + pe + 4;
    const uint16_t sections = LoadLe16(header + 2);
    const uint64_t table = pe + 4 + kFileHeaderSize + LoadLe16(header + 16);
    uint64_t end = 0;
    for (uint16_t k = 0; k < sections; ++k) {
        const uint64_t at = table + uint64_t{k} * kSectionHeaderSize;
        if (at + kSectionHeaderSize > imageLimit) return 0;
        const uint64_t dataEnd =
            uint64_t{LoadLe32(file.data() + at + 20)} + LoadLe32(file.data() + at + 16);
        if (dataEnd > end) end = dataEnd;
    }
    return end;
}

const char* DescribeStatus(ReadRecordStatus status) {
    switch (status) {
        case ReadRecordStatus::kReadFailed:
            return "a record runs past the end of the payload";
        case ReadRecordStatus::kUnknownKind:
            return "a record has an unknown kind";
        case ReadRecordStatus::kTooManySources:
            return "a file lists more than 20 source versions";
        case ReadRecordStatus::kUnsafeName:
            return "a record names a file outside the target";
        default:
            return "a record cannot be read";
    }
}

}  // namespace

uint64_t PayloadLimit(uint64_t bodySize) {
    uint64_t limit = bodySize * kPayloadRatioLimit;
    if (limit < kPayloadFloorLimit) limit = kPayloadFloorLimit;
    return limit < UINT32_MAX ? limit : UINT32_MAX;
}

bool CheckStub(const Bytes& stub, bool allow64Bit, std::string* error) {
    constexpr uint32_t kPeOffsetField = 0x3C;
    constexpr uint32_t kFileHeaderSize = 20;
    constexpr uint16_t kMachineI386 = 0x14C;
    constexpr uint16_t kPe32Magic = 0x10B;
    constexpr uint16_t kMachineAmd64 = 0x8664;
    constexpr uint16_t kPe32PlusMagic = 0x20B;
    constexpr uint32_t kSubsystemOffset = 68;  // in the optional header
    constexpr uint16_t kSubsystemGui = 2;
    constexpr uint32_t kSectionHeaderSize = 40;
    const auto u16 = [&](uint64_t at) {
        return static_cast<uint16_t>(stub[at] | stub[at + 1] << 8);
    };
    if (stub.size() < kPeOffsetField + 4 || stub[0] != 'M' || stub[1] != 'Z') {
        *error = "not a Windows executable (no MZ header)";
        return false;
    }
    uint64_t pe = LoadLe32(stub.data() + kPeOffsetField);
    if (pe + 4 + kFileHeaderSize + kSubsystemOffset + 2 > stub.size() ||
        std::memcmp(stub.data() + pe, "PE\0\0", 4) != 0) {
        *error = "not a Windows executable (no PE header)";
        return false;
    }
    uint64_t fileHeader = pe + 4, optional = fileHeader + kFileHeaderSize;
    uint16_t sections = u16(fileHeader + 2), optionalSize = u16(fileHeader + 16);
    bool is32 = u16(fileHeader) == kMachineI386 && u16(optional) == kPe32Magic;
    bool is64 = u16(fileHeader) == kMachineAmd64 && u16(optional) == kPe32PlusMagic;
    if (!is32 && !(allow64Bit && is64)) {
        *error = "not a 32-bit (i386) Windows program";
        return false;
    }
    if (u16(optional + kSubsystemOffset) != kSubsystemGui) {
        *error = "not a Windows GUI program (wrong subsystem)";
        return false;
    }
    // Every section's data must be in the file: a cut copy does not start.
    uint64_t table = optional + optionalSize;
    for (uint16_t k = 0; k < sections; ++k) {
        uint64_t at = table + uint64_t{k} * kSectionHeaderSize;
        if (at + kSectionHeaderSize > stub.size() ||
            uint64_t{LoadLe32(stub.data() + at + 20)} + LoadLe32(stub.data() + at + 16) >
                stub.size()) {
            *error = "the executable is cut short";
            return false;
        }
    }
    // A finished patch, signed or not, has its trailer where ReadPatch looks.
    MemoryByteSource image(stub.data(), static_cast<uint32_t>(stub.size()));
    const uint32_t trailerEnd = PayloadTrailerEnd(image);
    PayloadTrailer trailer{};
    if (trailerEnd >= kPayloadTrailerSize) {
        ParsePayloadTrailer(stub.data() + trailerEnd - kPayloadTrailerSize, &trailer);
    }
    if (IsPlausibleTrailer(trailer, trailerEnd)) {
        *error = "it already carries a patch; use the bare applier";
        return false;
    }
    return true;
}

bool ReadRegistryScript(const PatchContents& patch, const CurrentRecord& record,
                        RegistryScriptView* out, std::string* error) {
    *out = RegistryScriptView{};
    MemoryByteSource source(patch.payload.data(), static_cast<uint32_t>(patch.payload.size()));
    RegistryScript script;
    if (!source.Seek(record.dataStart) ||
        !ReadRegistryScript(source, record.scriptLength, &script)) {
        *error = "the registry script is damaged";
        return false;
    }
    out->checkRootKey = script.checkRootKey;
    out->checkKeyPath = script.checkKeyPath;
    out->checkValueName = script.checkValueName;
    uint32_t currentRoot = 0;
    std::string currentKey;
    for (const RegistryOperation& op : script.operations) {
        switch (op.kind) {
            case RegistryOpKind::kOpenKey:
                currentRoot = op.rootKey;
                currentKey = op.keyPath;
                break;
            case RegistryOpKind::kSetValue:
                out->entries.push_back({currentRoot, currentKey, op.valueName, op.valueType,
                                        Bytes(op.data.begin(), op.data.end())});
                break;
            case RegistryOpKind::kUnknown:
                out->passedOver.push_back(op.code);
                break;
        }
    }
    return true;
}

uint32_t CrcWithSkip(const Bytes& data, uint32_t skipOffset, uint32_t skipLength) {
    if (skipLength == 0) return CrcOfBuffer(data.data(), data.size(), kCrcStart);
    size_t cut = skipOffset < data.size() ? skipOffset : data.size();
    uint64_t resume = static_cast<uint64_t>(skipOffset) + skipLength;
    uint32_t crc = CrcOfBuffer(data.data(), cut, kCrcStart);
    if (resume < data.size()) crc = CrcOfBuffer(data.data() + resume, data.size() - resume, crc);
    return crc;
}

bool ReadPatch(const Bytes& file, PatchContents* out, std::string* error) {
    *out = PatchContents{};
    if (file.size() < kPatchHeaderSize + kPayloadTrailerSize) {
        *error = "the file is too small to hold a patch";
        return false;
    }
    if (file.size() > UINT32_MAX) {
        *error = "the file is larger than 4 GiB";
        return false;
    }
    // A signed patch carries its certificate table behind the trailer.
    MemoryByteSource image(file.data(), static_cast<uint32_t>(file.size()));
    const uint32_t trailerEnd = PayloadTrailerEnd(image);
    PayloadTrailer trailer{};
    if (trailerEnd >= kPayloadTrailerSize)
        ParsePayloadTrailer(file.data() + trailerEnd - kPayloadTrailerSize, &trailer);
    if (!IsPlausibleTrailer(trailer, trailerEnd)) {
        *error = "the file carries no patch payload";
        return false;
    }
    out->stubSize = trailerEnd - trailer.payloadLength;
    // The builder pads the applier with up to 7 zero bytes so the patch is a
    // multiple of 8 long; the applier's own size is where its sections end.
    const uint64_t imageEnd = SectionDataEnd(file, out->stubSize);
    out->alignmentBytes =
        imageEnd != 0 && imageEnd <= out->stubSize && out->stubSize - imageEnd < kPatchAlignment
            ? static_cast<uint32_t>(out->stubSize - imageEnd)
            : 0;
    ParsePatchHeader(file.data() + out->stubSize, &out->header);
    if (out->header.headerMagic != kPayloadMagic) {
        *error = "the patch header is damaged";
        return false;
    }
    const uint8_t* body = file.data() + out->stubSize + kPatchHeaderSize;
    out->bodySize = trailer.payloadLength - kPatchHeaderSize - kPayloadTrailerSize;
    if (out->header.payloadFlags & kPayloadCompressed) {
        if (!Inflate(body, out->bodySize, PayloadLimit(out->bodySize), &out->payload, error)) {
            return false;
        }
    } else {
        out->payload.assign(body, body + out->bodySize);
    }
    // The applier refuses such a patch at start-up: so does verify.
    IntegrityRecord integrity;
    if (ReadIntegrityRecord(out->header.opaqueBlock, &integrity) &&
        (integrity.payloadLength != out->payload.size() ||
         integrity.payloadCrc !=
             CrcOfBuffer(out->payload.data(), out->payload.size(), kCrcStart))) {
        *error = "the payload does not match the length and CRC value its header records";
        return false;
    }
    size_t textEnd = static_cast<size_t>(out->header.noticeLength) + out->header.descriptionLength;
    if (out->header.noticeLength > kNoticeCapacity ||
        out->header.descriptionLength > kDescriptionCapacity || textEnd > out->payload.size()) {
        *error = "the notice or description does not fit the payload";
        return false;
    }
    const char* text = reinterpret_cast<const char*>(out->payload.data());
    out->notice.assign(text, out->header.noticeLength);
    out->description.assign(text + out->header.noticeLength, out->header.descriptionLength);
    if (out->payload.size() > UINT32_MAX) {
        *error = "the payload is larger than 4 GiB";
        return false;
    }
    MemoryByteSource source(out->payload.data(), static_cast<uint32_t>(out->payload.size()));
    source.Seek(static_cast<uint32_t>(textEnd));
    if (!ReadLocation(source, out, error)) return false;
    if (!ReadShortString(source, &out->backupName)) {
        *error = "the backup name is missing";
        return false;
    }
    for (;;) {
        CurrentRecord record;
        ReadRecordStatus status = ReadRecord(source, &record);
        if (status != ReadRecordStatus::kOk) {
            *error = DescribeStatus(status);
            return false;
        }
        if (record.kind == kEndRecord) break;
        out->records.push_back(record);
    }
    if (source.Position() != source.Size()) {
        *error = "bytes follow the end record";
        return false;
    }
    return true;
}

bool DecodeChain(const PatchContents& patch, const CurrentRecord& record, int first,
                 const Bytes& source, Bytes* out, std::string* error) {
    Bytes current = source;
    const int count = record.fileHeader.sourceCount;
    for (int k = first; k < count; ++k) {
        const SourceVariant& v = record.variants[k];
        uint32_t outputSize =
            k + 1 < count ? record.variants[k + 1].header.sourceSize : record.fileHeader.newSize;
        MemoryStepIo io(patch.payload.data(), patch.payload.size(), v.dataStart, v.header,
                        current.data(), current.size());
        DeltaStepOutcome outcome = ReconstructStep(v.header, outputSize, io);
        if (outcome.result != kOk) {
            *error = "step " + std::to_string(k + 1) + " fails with result " +
                     std::to_string(outcome.result);
            return false;
        }
        current.swap(io.output());
    }
    if (current.size() != record.fileHeader.newSize ||
        CrcOfBuffer(current.data(), current.size(), kCrcStart) != record.fileHeader.newCrc) {
        *error = "the rebuilt file has the wrong size or CRC";
        return false;
    }
    *out = std::move(current);
    return true;
}
