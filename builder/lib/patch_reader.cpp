#include "builder/lib/patch_reader.h"

#include <zlib.h>

#include <cstring>

#include "builder/lib/delta_encoder.h"
#include "core/byte_order.h"
#include "core/crc.h"
#include "core/delta_decoder.h"
#include "core/pe_layout.h"
#include "core/result_codes.h"

namespace {

constexpr int kInflateWindowBits = -15;
constexpr size_t kInflatePiece = 64 * 1024;

bool Inflate(const uint8_t* data, size_t size, Bytes* out, std::string* error) {
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
        out->insert(out->end(), piece, piece + (sizeof piece - z.avail_out));
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
    uint8_t kindAndFlags[2];
    if (!source.Read(kindAndFlags, 2)) {
        *error = "the location record is missing";
        return false;
    }
    out->location.kind = kindAndFlags[0];
    if (kindAndFlags[1] & kMoreLocations) {
        *error = "the patch has more than one section, which this tool does not read";
        return false;
    }
    if (out->location.kind == kRegistryValue) {
        uint8_t root[4];
        if (!source.Read(root, 4) || !ReadShortString(source, &out->location.keyPath) ||
            !ReadShortString(source, &out->location.valueName)) {
            *error = "the registry location is cut short";
            return false;
        }
        out->location.rootKey = LoadLe32(root);
    }
    return true;
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

// Decoder I/O over the payload's blocks and in-memory files.
class ChainStepIo : public DeltaStepIo {
  public:
    ChainStepIo(const Bytes& payload, const SourceVariant& v, const Bytes& input)
        : payload_(payload), input_(input) {
        uint64_t at = v.dataStart;
        for (int b = 0; b < kDeltaBlockCount; ++b) {
            blockAt_[b] = at;
            blockEnd_[b] = at + v.header.blockLength[b];
            at = blockEnd_[b];
        }
    }
    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        uint64_t end = blockEnd_[block] < payload_.size() ? blockEnd_[block] : payload_.size();
        uint64_t available = blockAt_[block] < end ? end - blockAt_[block] : 0;
        *got = static_cast<uint32_t>(available < count ? available : count);
        if (*got > 0) std::memcpy(buffer, payload_.data() + blockAt_[block], *got);
        blockAt_[block] += *got;
        return true;
    }
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        return Copy(input_, position, buffer, count, got);
    }
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        return Copy(output_, position, buffer, count, got);
    }
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override {
        output_.insert(output_.end(), buffer, buffer + count);
        return true;
    }
    Bytes& output() { return output_; }

  private:
    static bool Copy(const Bytes& data, uint32_t position, uint8_t* buffer, uint32_t count,
                     uint32_t* got) {
        size_t available = position < data.size() ? data.size() - position : 0;
        *got = static_cast<uint32_t>(available < count ? available : count);
        if (*got > 0) std::memcpy(buffer, data.data() + position, *got);
        return true;
    }

    const Bytes& payload_;
    const Bytes& input_;
    Bytes output_;
    uint64_t blockAt_[kDeltaBlockCount];
    uint64_t blockEnd_[kDeltaBlockCount];
};

}  // namespace

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
    ParsePatchHeader(file.data() + out->stubSize, &out->header);
    if (out->header.headerMagic != kPayloadMagic) {
        *error = "the patch header is damaged";
        return false;
    }
    const uint8_t* body = file.data() + out->stubSize + kPatchHeaderSize;
    out->bodySize = trailer.payloadLength - kPatchHeaderSize - kPayloadTrailerSize;
    if (out->header.payloadFlags & kPayloadCompressed) {
        if (!Inflate(body, out->bodySize, &out->payload, error)) return false;
    } else {
        out->payload.assign(body, body + out->bodySize);
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
        ChainStepIo io(patch.payload, v, current);
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
