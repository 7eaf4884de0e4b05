#include "tests/core/test_step_io.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace {

uint32_t Serve(const Bytes& from, size_t at, uint8_t* buffer, uint32_t count) {
    if (at >= from.size()) return 0;
    uint32_t n = static_cast<uint32_t>(std::min<size_t>(count, from.size() - at));
    std::memcpy(buffer, from.data() + at, n);
    return n;
}

}  // namespace

// The interface allows a short answer only at a block's end, so a slow
// source loops here; the decoder still sees every boundary of its refills.
bool TestStepIo::ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    while (*got < count) {
        uint32_t piece = std::min(count - *got, maxPerRead_);
        uint32_t n = Serve(blocks_[block], blockAt_[block], buffer + *got, piece);
        blockAt_[block] += n;
        *got += n;
        if (n < piece) break;
    }
    return true;
}

bool TestStepIo::ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) {
    *got = Serve(input_, position, buffer, count);
    return true;
}

bool TestStepIo::ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) {
    ++outputReads;
    *got = Serve(output, position, buffer, count);
    return true;
}

bool TestStepIo::WriteOutput(const uint8_t* buffer, uint32_t count) {
    if (failWrites) return false;
    output.insert(output.end(), buffer, buffer + count);
    return true;
}

DeltaStepOutcome DecodeBlocks(VariantHeader header, const Bytes* blocks, const Bytes& input,
                              uint32_t outputSize, Bytes* output, uint32_t maxPerRead) {
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        header.blockLength[b] = static_cast<uint32_t>(blocks[b].size());
    }
    header.sourceSize = static_cast<uint32_t>(input.size());
    TestStepIo io(blocks, input, maxPerRead);
    DeltaStepOutcome outcome = ReconstructStep(header, outputSize, io);
    if (output) *output = io.output;
    return outcome;
}

void BlockBuilder::Integer(int64_t value) {
    uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-value) : static_cast<uint64_t>(value);
    CommandByte(static_cast<uint8_t>(magnitude));
    const int64_t kLimits[] = {255, 65535, 16777215};
    const int kStreams[] = {kBitStreamB, kBitStreamC, kBitStreamC};
    for (int i = 0; i < 3 && bound_ > kLimits[i]; ++i) {
        bool more = (magnitude >> (8 * (i + 1))) != 0;
        Bit(kStreams[i], more);
        if (!more) break;
        CommandByte(static_cast<uint8_t>(magnitude >> (8 * (i + 1))));
    }
    Bit(kBitStreamB, value < 0);
}

void BlockBuilder::Bit(int block, bool bit) {
    if (bitIndex_[block] == 0) blocks[block].push_back(0);
    if (bit) blocks[block].back() |= static_cast<uint8_t>(1u << bitIndex_[block]);
    bitIndex_[block] = (bitIndex_[block] + 1) & 7;
}

void BlockBuilder::Append(int block, const Bytes& bytes) {
    blocks[block].insert(blocks[block].end(), bytes.begin(), bytes.end());
}

Bytes BytesOf(const char* text) { return Bytes(text, text + std::strlen(text)); }

Bytes RandomBytes(uint32_t seed, size_t count, int alphabet) {
    std::mt19937 rng(seed);
    Bytes out(count);
    for (auto& b : out) b = static_cast<uint8_t>(rng() % alphabet);
    return out;
}
