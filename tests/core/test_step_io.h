// A DeltaStepIo over memory for the core tests. It can hand out block bytes a
// few at a time, so the decoder's buffering is exercised at every boundary.
#pragma once
#include <cstdint>

#include "builder/lib/payload_writer.h"
#include "core/delta_decoder.h"

class TestStepIo : public DeltaStepIo {
  public:
    TestStepIo(const Bytes* blocks, const Bytes& input, uint32_t maxPerRead = UINT32_MAX)
        : blocks_(blocks), input_(input), maxPerRead_(maxPerRead) {}

    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override;
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override;
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override;
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override;
    void Pump() override { ++pumps; }

    Bytes output;
    int outputReads = 0;
    int pumps = 0;
    bool failWrites = false;

  private:
    const Bytes* blocks_;
    const Bytes& input_;
    uint32_t maxPerRead_;
    size_t blockAt_[kDeltaBlockCount] = {};
};

// Decodes blocks against input with the header's other fields; block lengths
// are taken from the blocks.
DeltaStepOutcome DecodeBlocks(VariantHeader header, const Bytes* blocks, const Bytes& input,
                              uint32_t outputSize, Bytes* output, uint32_t maxPerRead = UINT32_MAX);

// Hand-built blocks for decoder tests: bytes and bits appended in the order
// the decoder consumes them, integers packed for a given bound.
class BlockBuilder {
  public:
    explicit BlockBuilder(int64_t bound) : bound_(bound) {}
    void Integer(int64_t value);
    void CommandByte(uint8_t b) { blocks[kCommandBlock].push_back(b); }
    void Bit(int block, bool bit);
    void Append(int block, const Bytes& bytes);

    Bytes blocks[kDeltaBlockCount];

  private:
    int64_t bound_;
    int bitIndex_[kDeltaBlockCount] = {};
};

Bytes BytesOf(const char* text);
Bytes RandomBytes(uint32_t seed, size_t count, int alphabet = 256);
