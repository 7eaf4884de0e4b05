// The decoder's I/O over memory: blocks, source and output are buffers. The
// builder checks every delta through it before the delta is written; the
// decoder's tests and fuzz entry run it on hand-made and damaged blocks.
#pragma once
#include <algorithm>
#include <cstddef>
#include <utility>

#include "builder/lib/payload_writer.h"
#include "core/delta_decoder.h"

class MemoryStepIo : public DeltaStepIo {
  public:
    // The five blocks as separate buffers.
    MemoryStepIo(const Bytes* blocks, const Bytes& input)
        : input_(input.data()), inputSize_(input.size()) {
        for (int b = 0; b < kDeltaBlockCount; ++b) {
            block_[b] = blocks[b].data();
            blockLeft_[b] = blocks[b].size();
        }
    }

    // The blocks back to back in stream from `at`, as a patch stores them,
    // their lengths from header; a stream that ends early cuts them short.
    MemoryStepIo(const uint8_t* stream, size_t streamSize, uint64_t at, const VariantHeader& header,
                 const uint8_t* input, size_t inputSize)
        : input_(input), inputSize_(inputSize) {
        for (int b = 0; b < kDeltaBlockCount; ++b) {
            const uint64_t end = at + header.blockLength[b];
            block_[b] = stream + std::min<uint64_t>(at, streamSize);
            blockLeft_[b] =
                std::min<uint64_t>(end, streamSize) - std::min<uint64_t>(at, streamSize);
            at = end;
        }
    }

    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got = Serve(block_[block], blockLeft_[block], 0, buffer, count);
        block_[block] += *got;
        blockLeft_[block] -= *got;
        return true;
    }
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got = Serve(input_, inputSize_, position, buffer, count);
        return true;
    }
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got = Serve(output_.data(), output_.size(), position, buffer, count);
        return true;
    }
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override {
        output_.insert(output_.end(), buffer, buffer + count);
        return true;
    }
    Bytes& output() { return output_; }

  private:
    static uint32_t Serve(const uint8_t* from, size_t size, size_t at, uint8_t* buffer,
                          uint32_t count) {
        if (at >= size) return 0;
        size_t n = std::min<size_t>(count, size - at);
        std::copy_n(from + at, n, buffer);
        return static_cast<uint32_t>(n);
    }

    const uint8_t* block_[kDeltaBlockCount];
    size_t blockLeft_[kDeltaBlockCount];
    const uint8_t* input_;
    size_t inputSize_;
    Bytes output_;
};

// The decoder's I/O for checking a step against the output it must give,
// without holding that output twice: written bytes are compared with
// expected as they come, and reads of the output so far are served from
// expected, which equals it up to there while nothing differed.
class CheckingStepIo : public DeltaStepIo {
  public:
    // blocks: where blocks and input are read (its output is not used).
    CheckingStepIo(MemoryStepIo blocks, const Bytes& expected)
        : blocks_(std::move(blocks)), expected_(expected) {}

    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        return blocks_.ReadBlockBytes(block, buffer, count, got);
    }
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        return blocks_.ReadInput(position, buffer, count, got);
    }
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got = 0;
        if (!same_ || position >= written_) return same_;
        const size_t n = std::min<size_t>(count, written_ - position);
        std::copy_n(expected_.data() + position, n, buffer);
        *got = static_cast<uint32_t>(n);
        return true;
    }
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override {
        same_ = same_ && count <= expected_.size() - written_ &&
                std::equal(buffer, buffer + count, expected_.begin() + written_);
        // Past a difference nothing more is compared: the step has failed.
        if (same_) written_ += count;
        return same_;
    }
    // True when every byte written so far equals expected.
    bool same() const { return same_; }
    size_t written() const { return written_; }

  private:
    MemoryStepIo blocks_;
    const Bytes& expected_;
    size_t written_ = 0;
    bool same_ = true;
};
