#include "fuzz/fuzz_entries.h"

#include <cstdlib>
#include <cstring>

#include "builder/lib/memory_step_io.h"
#include "core/byte_order.h"
#include "core/crc.h"
#include "core/record_reader.h"
#include "core/result_codes.h"

namespace {

constexpr uint32_t kMaxFuzzOutput = 1u << 20;  // keeps every run short
constexpr size_t kDecoderPrefix = kVariantHeaderSize + 4 + 2;

void Require(bool condition) {
    if (!condition) std::abort();
}

// The decoder must never ask for input before it knows the source holds it.
class CheckedIo : public MemoryStepIo {
  public:
    CheckedIo(const uint8_t* data, size_t size, size_t at, const VariantHeader& header,
              const uint8_t* source, uint32_t sourceSize)
        : MemoryStepIo(data, size, at, header, source, sourceSize), sourceSize_(sourceSize) {}
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        Require(position < sourceSize_);
        return MemoryStepIo::ReadInput(position, buffer, count, got);
    }

  private:
    const size_t sourceSize_;
};

void CheckRecord(const CurrentRecord& r, uint32_t size) {
    switch (r.kind) {
        case RecordKind::kFile:
            Require(r.fileHeader.sourceCount <= kMaxSourceVariants);
            Require(IsSafeRelativeName(r.fileName));
            for (int j = 0; j < r.fileHeader.sourceCount; ++j) {
                const SourceVariant& v = r.variants[j];
                Require(IsSafeRelativeName(v.sourceName));
                Require(v.dataStart + VariantDataLength(v.header) <= size);
            }
            return;
        case RecordKind::kNewFile:
            Require(IsSafeRelativeName(r.fileName));
            Require(uint64_t{r.dataStart} + r.newFileHeader.dataLength <= size);
            return;
        case RecordKind::kObsolete:
            Require(IsSafeRelativeName(r.fileName));
            return;
        case RecordKind::kRegistry:
            Require(uint64_t{r.dataStart} + r.scriptLength <= size);
            return;
        case RecordKind::kEnd:
            return;
    }
    Require(false);  // a kind outside the enumeration
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
        if (record.kind == RecordKind::kEnd) return;
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
    const size_t blocksAt = at;
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        if (header.blockLength[b] > size - at)
            header.blockLength[b] = static_cast<uint32_t>(size - at);
        at += header.blockLength[b];
    }
    CheckedIo io(data, size, blocksAt, header, source, sourceSize);
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
