// Writes the five blocks of a delta step in exactly the order the decoder
// reads them: command bytes, presence and sign bits, insert and diff bytes.
#pragma once
#include <cstdint>

#include "builder/lib/payload_writer.h"

class DeltaBlockWriter {
  public:
    explicit DeltaBlockWriter(int64_t bound) : bound_(bound) {}

    void PackedInteger(int64_t value);
    void CommandByte(uint8_t byte) { blocks_[kCommandBlock].push_back(byte); }
    void BitC(bool bit) { AppendBit(kBitStreamC, &bitIndexC_, bit); }
    void InsertBytes(const uint8_t* bytes, uint32_t count);
    void DiffBytes(const uint8_t* bytes, uint32_t count);

    Bytes* blocks() { return blocks_; }

  private:
    void BitB(bool bit) { AppendBit(kBitStreamB, &bitIndexB_, bit); }
    void AppendBit(int block, int* index, bool bit);

    int64_t bound_;
    Bytes blocks_[kDeltaBlockCount];
    int bitIndexB_ = 0;
    int bitIndexC_ = 0;
};
