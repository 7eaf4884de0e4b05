#include "builder/lib/delta_block_writer.h"

namespace {

// Bounds above which the decoder asks for a second, third and fourth byte.
constexpr int64_t kMoreBytesAbove[] = {255, 65535, 16777215};

}  // namespace

void DeltaBlockWriter::AppendBit(int block, int* index, bool bit) {
    if (*index == 0) blocks_[block].push_back(0);
    if (bit) blocks_[block].back() |= static_cast<uint8_t>(1u << *index);
    *index = (*index + 1) & 7;
}

// Byte 0 always; each further byte only when the bound allows it and a
// presence bit (in B, then C, then C) says so; the sign bit last, for every
// integer.
void DeltaBlockWriter::PackedInteger(int64_t value) {
    uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value);
    CommandByte(static_cast<uint8_t>(magnitude));
    for (int i = 0; i < 3 && bound_ > kMoreBytesAbove[i]; ++i) {
        const bool more = (magnitude >> (8 * (i + 1))) != 0;
        if (i == 0) {
            BitB(more);
        } else {
            BitC(more);
        }
        if (!more) break;
        CommandByte(static_cast<uint8_t>(magnitude >> (8 * (i + 1))));
    }
    BitB(value < 0);
}

void DeltaBlockWriter::InsertBytes(const uint8_t* bytes, uint32_t count) {
    blocks_[kInsertBlock].insert(blocks_[kInsertBlock].end(), bytes, bytes + count);
}

void DeltaBlockWriter::DiffBytes(const uint8_t* bytes, uint32_t count) {
    blocks_[kDiffBlock].insert(blocks_[kDiffBlock].end(), bytes, bytes + count);
}
