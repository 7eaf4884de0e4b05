#include "builder/lib/payload_writer.h"

#include <zlib.h>

#include <algorithm>

#include "core/byte_order.h"
#include "core/crc.h"
#include "core/payload_layout.h"
#include "core/pe_layout.h"

namespace {

constexpr int kDeflateWindowBits = -15;   // raw deflate: no zlib header, no Adler-32
constexpr int kDeflateMemLevel = 8;       // zlib's default
constexpr uInt kDeflatePiece = 1u << 30;  // zlib counts in uInt

void Append(Bytes* out, const Bytes& bytes) { out->insert(out->end(), bytes.begin(), bytes.end()); }

void Append(Bytes* out, const uint8_t* bytes, size_t count) {
    out->insert(out->end(), bytes, bytes + count);
}

}  // namespace

void RecordStreamWriter::Raw(const Bytes& bytes) { Append(&bytes_, bytes); }

void RecordStreamWriter::U8(uint8_t v) { bytes_.push_back(v); }

void RecordStreamWriter::U16(uint16_t v) {
    uint8_t b[2];
    StoreLe16(b, v);
    Append(&bytes_, b, sizeof b);
}

void RecordStreamWriter::U32(uint32_t v) {
    uint8_t b[4];
    StoreLe32(b, v);
    Append(&bytes_, b, sizeof b);
}

// A longer text cannot be represented; it is cut and the writer remembers it,
// so the caller can refuse to ship a patch with a wrong name in it.
void RecordStreamWriter::ShortString(const std::string& text) {
    size_t length = text.size();
    if (length > static_cast<size_t>(kShortStringMax)) {
        length = kShortStringMax;
        ok_ = false;
    }
    U8(static_cast<uint8_t>(length));
    Append(&bytes_, reinterpret_cast<const uint8_t*>(text.data()), length);
}

// Lengths are u32 in the stream; anything larger would be cut, so it is refused.
uint32_t RecordStreamWriter::Length(size_t count) {
    if (count > UINT32_MAX) {
        ok_ = false;
        return UINT32_MAX;
    }
    return static_cast<uint32_t>(count);
}

void RecordStreamWriter::Location(const LocationSpec& location, bool moreLocations) {
    U8(location.kind);
    U8(moreLocations ? kMoreLocations : 0);
    if (location.kind != kRegistryValue) return;
    U32(location.rootKey);
    ShortString(location.keyPath);
    ShortString(location.valueName);
}

void RecordStreamWriter::BackupName(const std::string& name) { ShortString(name); }

void RecordStreamWriter::Changed(const ChangedFile& file) {
    FileRecordHeader header = file.header;
    if (file.variants.size() > UINT16_MAX) ok_ = false;
    header.sourceCount = static_cast<uint16_t>(std::min<size_t>(file.variants.size(), UINT16_MAX));
    // A skip range given without the flag would silently vanish from the patch.
    bool anySkip = file.newSkipOffset != 0 || file.newSkipLength != 0;
    for (const DeltaVariant& v : file.variants) anySkip |= v.skipOffset != 0 || v.skipLength != 0;
    if (anySkip) header.fileFlags |= kHasSkipRange;
    const bool hasSkip = (header.fileFlags & kHasSkipRange) != 0;

    uint8_t fixed[kFileRecordHeaderSize];
    SerializeFileRecordHeader(header, fixed);
    U8(RecordCode(RecordKind::kFile));
    Append(&bytes_, fixed, sizeof fixed);
    if (hasSkip) {
        U32(file.newSkipOffset);
        U32(file.newSkipLength);
    }
    ShortString(file.fileName);
    for (size_t i = 0; i < header.sourceCount; ++i) {
        const DeltaVariant& v = file.variants[i];
        VariantHeader vh = v.header;
        for (int b = 0; b < kDeltaBlockCount; ++b) vh.blockLength[b] = Length(v.blocks[b].size());
        uint8_t variantBytes[kVariantHeaderSize];
        SerializeVariantHeader(vh, variantBytes);
        ShortString(v.sourceName);
        Append(&bytes_, variantBytes, sizeof variantBytes);
        if (hasSkip) {
            U32(v.skipOffset);
            U32(v.skipLength);
        }
        for (int b = 0; b < kDeltaBlockCount; ++b) Append(&bytes_, v.blocks[b]);
    }
}

void RecordStreamWriter::NewFile(const std::string& fileName, const Bytes& content,
                                 uint32_t newTime, uint16_t attributes) {
    NewFileHeader header{Length(content.size()), newTime, attributes};
    uint8_t fixed[kNewFileHeaderSize];
    SerializeNewFileHeader(header, fixed);
    U8(RecordCode(RecordKind::kNewFile));
    ShortString(fileName);
    Append(&bytes_, fixed, sizeof fixed);
    Append(&bytes_, content);
}

void RecordStreamWriter::Obsolete(const std::string& fileName) {
    U8(RecordCode(RecordKind::kObsolete));
    ShortString(fileName);
}

void RecordStreamWriter::Registry(const Bytes& script) {
    U8(RecordCode(RecordKind::kRegistry));
    U32(Length(script.size()));
    Append(&bytes_, script);
}

void RecordStreamWriter::End() { U8(RecordCode(RecordKind::kEnd)); }

RegistryScriptWriter::RegistryScriptWriter(uint32_t checkRootKey, const std::string& checkKeyPath,
                                           const std::string& checkValueName, uint32_t checkTrim) {
    w_.U32(checkRootKey);
    w_.ShortString(checkKeyPath);
    w_.ShortString(checkValueName);
    w_.U32(checkTrim);
    w_.U8(0);  // ScriptReserved
}

void RegistryScriptWriter::OpenKey(uint32_t rootKey, const std::string& keyPath) {
    w_.U8(kRegOpenKey);
    w_.U32(rootKey);
    w_.ShortString(keyPath);
}

void RegistryScriptWriter::SetValue(const std::string& valueName, uint32_t valueType,
                                    const Bytes& data) {
    w_.U8(kRegSetValue);
    w_.ShortString(valueName);
    w_.U32(valueType);
    w_.U32(static_cast<uint32_t>(data.size()));
    w_.Raw(data);
}

void RegistryScriptWriter::Op(uint8_t code) { w_.U8(code); }

Bytes RegistryScriptWriter::Finish() {
    w_.U8(kRegEnd);
    return w_.bytes();
}

Bytes BuildPayload(const Bytes& notice, const Bytes& description, const Bytes& recordStream) {
    Bytes payload;
    payload.reserve(notice.size() + description.size() + recordStream.size());
    Append(&payload, notice);
    Append(&payload, description);
    Append(&payload, recordStream);
    return payload;
}

Bytes RawDeflate(const Bytes& data, int level) {
    if (level < Z_DEFAULT_COMPRESSION || level > Z_BEST_COMPRESSION) level = Z_BEST_COMPRESSION;
    z_stream zs{};
    if (deflateInit2(&zs, level, Z_DEFLATED, kDeflateWindowBits, kDeflateMemLevel,
                     Z_DEFAULT_STRATEGY) != Z_OK) {
        return Bytes();
    }
    Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())) + 64);
    size_t inDone = 0;
    size_t produced = 0;
    int status = Z_OK;
    // Fed in pieces so inputs beyond zlib's 32-bit counters still work.
    while (status != Z_STREAM_END) {
        if (produced == out.size()) out.resize(out.size() * 2);
        size_t inLeft = data.size() - inDone;
        size_t outLeft = out.size() - produced;
        uInt inPiece = inLeft > kDeflatePiece ? kDeflatePiece : static_cast<uInt>(inLeft);
        uInt outPiece = outLeft > kDeflatePiece ? kDeflatePiece : static_cast<uInt>(outLeft);
        zs.next_in = const_cast<Bytef*>(data.data() + inDone);
        zs.avail_in = inPiece;
        zs.next_out = out.data() + produced;
        zs.avail_out = outPiece;
        status = deflate(&zs, inPiece == inLeft ? Z_FINISH : Z_NO_FLUSH);
        inDone += inPiece - zs.avail_in;
        produced += outPiece - zs.avail_out;
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) break;
    }
    deflateEnd(&zs);
    if (status != Z_STREAM_END) return Bytes();
    out.resize(produced);
    return out;
}

Bytes BuildPatchFile(const Bytes& stub, const Bytes& payload, uint16_t noticeLength,
                     uint16_t descriptionLength, const PatchFileOptions& options) {
    return FramePatchBody(stub, options.compress ? RawDeflate(payload, options.level) : payload,
                          payload, noticeLength, descriptionLength, options);
}

Bytes FramePatchBody(const Bytes& stub, const Bytes& body, const Bytes& payload,
                     uint16_t noticeLength, uint16_t descriptionLength,
                     const PatchFileOptions& options) {
    PatchHeader header{};
    header.headerMagic = kPayloadMagic;
    header.builderValue = options.builderValue;
    header.builderByte = options.builderByte;
    header.payloadFlags = options.compress ? kPayloadCompressed : 0;
    header.noticeLength = noticeLength;
    header.descriptionLength = descriptionLength;
    if (options.integrityRecord) {
        const IntegrityRecord record{static_cast<uint32_t>(payload.size()),
                                     CrcOfBuffer(payload.data(), payload.size(), kCrcStart)};
        WriteIntegrityRecord(record, header.opaqueBlock);
    }
    uint8_t headerBytes[kPatchHeaderSize];
    SerializePatchHeader(header, headerBytes);

    PayloadTrailer trailer{
        static_cast<uint32_t>(kPatchHeaderSize + body.size() + kPayloadTrailerSize), kPayloadMagic};
    uint8_t trailerBytes[kPayloadTrailerSize];
    SerializePayloadTrailer(trailer, trailerBytes);

    Bytes file;
    const uint32_t padding =
        options.alignToEight ? PaddingBeforePayload(stub.size(), trailer.payloadLength) : 0;
    file.reserve(stub.size() + padding + kPatchHeaderSize + body.size() + kPayloadTrailerSize);
    Append(&file, stub);
    file.resize(file.size() + padding, 0);
    Append(&file, headerBytes, sizeof headerBytes);
    Append(&file, body);
    Append(&file, trailerBytes, sizeof trailerBytes);
    return file;
}

// Dates before 1980 or after 2107 do not fit the 7-bit year; they are clamped
// rather than wrapped into an unrelated year.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second) {
    constexpr int kDosEpochYear = 1980;
    constexpr int kDosMaxYearOffset = 127;
    int yearOffset = std::clamp(year - kDosEpochYear, 0, kDosMaxYearOffset);
    uint32_t date = (static_cast<uint32_t>(yearOffset) << 9) |
                    (static_cast<uint32_t>(std::clamp(month, 1, 12)) << 5) |
                    static_cast<uint32_t>(std::clamp(day, 1, 31));
    uint32_t time = (static_cast<uint32_t>(std::clamp(hour, 0, 23)) << 11) |
                    (static_cast<uint32_t>(std::clamp(minute, 0, 59)) << 5) |
                    static_cast<uint32_t>(std::clamp(second, 0, 59) / 2);
    return (date << 16) | time;
}
