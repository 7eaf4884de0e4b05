#include "builder/lib/delta_block_writer.h"

namespace {

constexpr int64_t kOneByteBound = 255;
constexpr int64_t kTwoByteBound = 65535;
constexpr int64_t kThreeByteBound = 16777215;

}  // namespace

uint32_t DeltaBlockWriter::MaxMagnitude(int64_t bound) {
    if (bound <= kOneByteBound) return 0xFFu;
    if (bound <= kTwoByteBound) return 0xFFFFu;
    if (bound <= kThreeByteBound) return 0xFFFFFFu;
    return 0xFFFFFFFFu;
}

void DeltaBlockWriter::AppendBit(int block, int* index, bool bit) {
    if (*index == 0) blocks_[block].push_back(0);
    if (bit) blocks_[block].back() |= static_cast<uint8_t>(1u << *index);
    *index = (*index + 1) & 7;
}

// Byte 0 always; each further byte only when the bound allows it and a
// presence bit says so; the sign bit last, for every integer.
void DeltaBlockWriter::PackedInteger(int64_t value) {
    uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value);
    CommandByte(static_cast<uint8_t>(magnitude));
    if (bound_ > kOneByteBound) {
        bool more = magnitude > 0xFF;
        BitB(more);
        if (more) {
            CommandByte(static_cast<uint8_t>(magnitude >> 8));
            if (bound_ > kTwoByteBound) {
                more = magnitude > 0xFFFF;
                BitC(more);
                if (more) {
                    CommandByte(static_cast<uint8_t>(magnitude >> 16));
                    if (bound_ > kThreeByteBound) {
                        more = magnitude > 0xFFFFFF;
                        BitC(more);
                        if (more) CommandByte(static_cast<uint8_t>(magnitude >> 24));
                    }
                }
            }
        }
    }
    BitB(value < 0);
}

void DeltaBlockWriter::InsertBytes(const uint8_t* bytes, uint32_t count) {
    blocks_[kInsertBlock].insert(blocks_[kInsertBlock].end(), bytes, bytes + count);
}

void DeltaBlockWriter::DiffBytes(const uint8_t* bytes, uint32_t count) {
    blocks_[kDiffBlock].insert(blocks_[kDiffBlock].end(), bytes, bytes + count);
}
