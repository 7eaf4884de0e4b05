#include "fuzz/fuzz_entries.h"

#include <cstdlib>
#include <cstring>

#include "core/byte_order.h"
#include "core/crc.h"
#include "core/delta_decoder.h"
#include "core/record_reader.h"
#include "core/result_codes.h"

namespace {

constexpr uint32_t kMaxFuzzOutput = 1u << 20;  // keeps every run short
constexpr size_t kDecoderPrefix = kVariantHeaderSize + 4 + 2;

void Require(bool condition) {
    if (!condition) std::abort();
}

class SliceIo : public DeltaStepIo {
  public:
    SliceIo(const uint8_t* const* blocks, const uint32_t* lengths, const uint8_t* source,
            uint32_t sourceSize)
        : source_(source), sourceSize_(sourceSize) {
        for (int b = 0; b < kDeltaBlockCount; ++b) {
            blocks_[b] = blocks[b];
            lengths_[b] = lengths[b];
        }
    }

    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        Require(block >= 0 && block < kDeltaBlockCount);
        *got = Serve(blocks_[block], lengths_[block], at_[block], buffer, count);
        at_[block] += *got;
        return true;
    }
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        Require(position < sourceSize_);
        *got = Serve(source_, sourceSize_, position, buffer, count);
        return true;
    }
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got =
            Serve(output_.data(), static_cast<uint32_t>(output_.size()), position, buffer, count);
        return true;
    }
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override {
        output_.insert(output_.end(), buffer, buffer + count);
        return true;
    }
    const std::vector<uint8_t>& output() const { return output_; }

  private:
    static uint32_t Serve(const uint8_t* from, uint32_t size, uint32_t at, uint8_t* buffer,
                          uint32_t count) {
        if (at >= size) return 0;
        uint32_t n = count < size - at ? count : size - at;
        if (n > 0) std::memcpy(buffer, from + at, n);
        return n;
    }

    const uint8_t* blocks_[kDeltaBlockCount];
    uint32_t lengths_[kDeltaBlockCount];
    uint32_t at_[kDeltaBlockCount] = {};
    const uint8_t* source_;
    uint32_t sourceSize_;
    std::vector<uint8_t> output_;
};

void CheckRecord(const CurrentRecord& r, uint32_t size) {
    if (r.kind == kFileRecord) {
        Require(r.fileHeader.sourceCount <= kMaxSourceVariants);
        Require(IsSafeRelativeName(r.fileName));
        for (int j = 0; j < r.fileHeader.sourceCount; ++j) {
            const SourceVariant& v = r.variants[j];
            Require(IsSafeRelativeName(v.sourceName));
            Require(v.dataStart + VariantDataLength(v.header) <= size);
        }
    } else if (r.kind == kNewFileRecord) {
        Require(IsSafeRelativeName(r.fileName));
        Require(uint64_t{r.dataStart} + r.newFileHeader.dataLength <= size);
    } else if (r.kind == kObsoleteRecord) {
        Require(IsSafeRelativeName(r.fileName));
    } else if (r.kind == kRegistryRecord) {
        Require(uint64_t{r.dataStart} + r.scriptLength <= size);
    } else {
        Require(r.kind == kEndRecord);
    }
}

}  // namespace

void FuzzRecordReader(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return;
    MemoryByteSource in(data, static_cast<uint32_t>(size));
    CurrentRecord record;
    // Each accepted record advances, so the loop ends within size steps.
    while (true) {
        uint32_t before = in.Position();
        if (ReadRecord(in, &record) != ReadRecordStatus::kOk) return;
        Require(in.Position() > before && in.Position() <= size);
        CheckRecord(record, static_cast<uint32_t>(size));
        if (record.kind == kEndRecord) return;
    }
}

void FuzzDeltaDecoder(const uint8_t* data, size_t size) {
    if (size < kDecoderPrefix || size > UINT32_MAX) return;
    VariantHeader header;
    ParseVariantHeader(data, &header);
    uint32_t outputSize = LoadLe32(data + kVariantHeaderSize) % (kMaxFuzzOutput + 1);
    size_t at = kDecoderPrefix;
    uint32_t sourceSize = LoadLe16(data + kVariantHeaderSize + 4);
    if (sourceSize > size - at) sourceSize = static_cast<uint32_t>(size - at);
    const uint8_t* source = data + at;
    at += sourceSize;
    header.sourceSize = sourceSize;
    const uint8_t* blocks[kDeltaBlockCount];
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        if (header.blockLength[b] > size - at)
            header.blockLength[b] = static_cast<uint32_t>(size - at);
        blocks[b] = data + at;
        at += header.blockLength[b];
    }
    SliceIo io(blocks, header.blockLength, source, sourceSize);
    DeltaStepOutcome outcome = ReconstructStep(header, outputSize, io);
    Require(outcome.result == kOk || outcome.result == kPatchDamaged ||
            outcome.result == kChecksumMismatch);
    Require(outcome.outputSize == io.output().size() && outcome.outputSize <= outputSize);
    Require(outcome.outputCrc == CrcOfBuffer(io.output().data(), io.output().size(), kCrcStart));
}

std::vector<uint8_t> DecoderFuzzInput(const uint8_t header[32], uint32_t outputSize,
                                      const std::vector<uint8_t>& source,
                                      const std::vector<uint8_t>* blocks) {
    std::vector<uint8_t> out(kDecoderPrefix);
    std::memcpy(out.data(), header, kVariantHeaderSize);
    StoreLe32(&out[kVariantHeaderSize], outputSize);
    StoreLe16(&out[kVariantHeaderSize + 4], static_cast<uint16_t>(source.size()));
    out.insert(out.end(), source.begin(), source.end());
    for (int b = 0; b < kDeltaBlockCount; ++b)
        out.insert(out.end(), blocks[b].begin(), blocks[b].end());
    return out;
}
