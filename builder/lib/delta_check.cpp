#include <cstring>

#include "builder/lib/delta_choice.h"
#include "core/crc.h"
#include "core/delta_decoder.h"
#include "core/result_codes.h"

namespace {

// The decoder's I/O over memory: blocks, source and output are buffers.
class MemoryStepIo : public DeltaStepIo {
  public:
    MemoryStepIo(const DeltaVariant& variant, const Bytes& source)
        : variant_(variant), source_(source) {}

    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        return ReadFrom(variant_.blocks[block], &blockPos_[block], buffer, count, got);
    }
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        uint64_t at = position;
        return ReadFrom(source_, &at, buffer, count, got);
    }
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        uint64_t at = position;
        return ReadFrom(output_, &at, buffer, count, got);
    }
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override {
        output_.insert(output_.end(), buffer, buffer + count);
        return true;
    }

    const Bytes& output() const { return output_; }

  private:
    static bool ReadFrom(const Bytes& data, uint64_t* at, uint8_t* buffer, uint32_t count,
                         uint32_t* got) {
        uint64_t available = *at < data.size() ? data.size() - *at : 0;
        *got = static_cast<uint32_t>(available < count ? available : count);
        if (*got > 0) std::memcpy(buffer, data.data() + *at, *got);
        *at += *got;
        return true;
    }

    const DeltaVariant& variant_;
    const Bytes& source_;
    Bytes output_;
    uint64_t blockPos_[kDeltaBlockCount] = {};
};

}  // namespace

bool DeltaReproduces(const DeltaVariant& variant, const Bytes& source, const Bytes& target) {
    if (variant.header.sourceSize != source.size()) return false;
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        if (variant.header.blockLength[b] != variant.blocks[b].size()) return false;
    }
    MemoryStepIo io(variant, source);
    DeltaStepOutcome outcome =
        ReconstructStep(variant.header, static_cast<uint32_t>(target.size()), io);
    return outcome.result == kOk && io.output() == target && outcome.outputSize == target.size() &&
           outcome.outputCrc == CrcOfBuffer(target.data(), target.size(), kCrcStart);
}
