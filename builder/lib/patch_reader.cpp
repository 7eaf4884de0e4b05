#include "builder/lib/patch_reader.h"

#include <zlib.h>

#include <cstring>

#include "builder/lib/delta_encoder.h"
#include "builder/lib/memory_step_io.h"
#include "core/byte_order.h"
#include "core/crc.h"
#include "core/delta_decoder.h"
#include "core/patch_frame.h"
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
// headers cannot be read below imageLimit.
uint64_t SectionDataEnd(ByteSource& file, uint32_t imageLimit) {
    PeHeaders pe;
    uint64_t end = 0;
    if (ReadPeHeaders(file, &pe) != PeStatus::kOk ||
        !ReadSectionDataEnd(file, pe, imageLimit, &end))
        return 0;
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
    if (stub.size() > UINT32_MAX) {
        *error = "the executable is larger than 4 GiB";
        return false;
    }
    MemoryByteSource image(stub.data(), static_cast<uint32_t>(stub.size()));
    PeHeaders pe;
    PeStatus status = ReadPeHeaders(image, &pe);
    if (status == PeStatus::kNoDosHeader) {
        *error = "not a Windows executable (no MZ header)";
        return false;
    }
    if (status != PeStatus::kOk || !pe.hasSubsystem) {
        *error = "not a Windows executable (no PE header)";
        return false;
    }
    bool is32 = pe.machine == kMachineI386 && pe.optionalMagic == kPe32Magic;
    bool is64 = pe.machine == kMachineAmd64 && pe.optionalMagic == kPe32PlusMagic;
    if (!is32 && !(allow64Bit && is64)) {
        *error = "not a 32-bit (i386) Windows program";
        return false;
    }
    if (pe.subsystem != kSubsystemWindowsGui) {
        *error = "not a Windows GUI program (wrong subsystem)";
        return false;
    }
    // Every section's data must be in the file: a cut copy does not start.
    uint64_t dataEnd = 0;
    if (!ReadSectionDataEnd(image, pe, image.Size(), &dataEnd) || dataEnd > stub.size()) {
        *error = "the executable is cut short";
        return false;
    }
    // A finished patch, signed or not, has its trailer where ReadPatch looks.
    PatchFrame frame;
    FrameStatus found = ReadPatchFrame(image, &frame);
    if (found == FrameStatus::kOk || found == FrameStatus::kDamagedHeader) {
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
    MemoryByteSource image(file.data(), static_cast<uint32_t>(file.size()));
    PatchFrame frame;
    FrameStatus status = ReadPatchFrame(image, &frame);
    if (status == FrameStatus::kNoPayload) {
        *error = "the file carries no patch payload";
        return false;
    }
    out->stubSize = frame.headerStart;
    // The builder pads the applier with up to 7 zero bytes so the patch is a
    // multiple of 8 long; the applier's own size is where its sections end.
    const uint64_t imageEnd = SectionDataEnd(image, out->stubSize);
    out->alignmentBytes =
        imageEnd != 0 && imageEnd <= out->stubSize && out->stubSize - imageEnd < kPatchAlignment
            ? static_cast<uint32_t>(out->stubSize - imageEnd)
            : 0;
    if (status != FrameStatus::kOk) {
        *error = "the patch header is damaged";
        return false;
    }
    out->header = frame.header;
    const uint8_t* body = file.data() + frame.bodyStart;
    out->bodySize = frame.bodySize;
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
        if (record.kind == RecordKind::kEnd) break;
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

bool ChainRebuilds(const PatchContents& patch, const CurrentRecord& record, int first,
                   const Bytes& source, const Bytes& expected, std::string* error) {
    const int count = record.fileHeader.sourceCount;
    if (first >= count) {
        *error = "no such version";
        return false;
    }
    Bytes current;
    const Bytes* input = &source;
    for (int k = first; k < count; ++k) {
        const SourceVariant& v = record.variants[k];
        const bool last = k + 1 == count;
        uint32_t outputSize =
            last ? record.fileHeader.newSize : record.variants[k + 1].header.sourceSize;
        MemoryStepIo io(patch.payload.data(), patch.payload.size(), v.dataStart, v.header,
                        input->data(), input->size());
        if (last) {
            CheckingStepIo check(std::move(io), expected);
            DeltaStepOutcome outcome = ReconstructStep(v.header, outputSize, check);
            if (outcome.result != kOk || !check.same() || check.written() != expected.size() ||
                expected.size() != record.fileHeader.newSize ||
                outcome.outputCrc != record.fileHeader.newCrc) {
                *error = "step " + std::to_string(k + 1) + " does not give the new file";
                return false;
            }
            return true;
        }
        DeltaStepOutcome outcome = ReconstructStep(v.header, outputSize, io);
        if (outcome.result != kOk) {
            *error = "step " + std::to_string(k + 1) + " fails with result " +
                     std::to_string(outcome.result);
            return false;
        }
        current.swap(io.output());
        input = &current;
    }
    return false;
}
