// The decoder's I/O over memory: blocks, source and output are buffers. The
// builder checks every delta through it before the delta is written.
#pragma once
#include <algorithm>
#include <cstddef>

#include "builder/lib/payload_writer.h"
#include "core/delta_decoder.h"

class MemoryStepIo : public DeltaStepIo {
  public:
    MemoryStepIo(const Bytes* blocks, const Bytes& input) : blocks_(blocks), input_(input) {}

    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got = Serve(blocks_[block], blockAt_[block], buffer, count);
        blockAt_[block] += *got;
        return true;
    }
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got = Serve(input_, position, buffer, count);
        return true;
    }
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override {
        *got = Serve(output_, position, buffer, count);
        return true;
    }
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override {
        output_.insert(output_.end(), buffer, buffer + count);
        return true;
    }
    const Bytes& output() const { return output_; }

  private:
    static uint32_t Serve(const Bytes& from, size_t at, uint8_t* buffer, uint32_t count) {
        size_t n = at >= from.size() ? 0 : std::min<size_t>(count, from.size() - at);
        std::copy_n(from.begin() + at, n, buffer);
        return static_cast<uint32_t>(n);
    }

    const Bytes* blocks_;
    const Bytes& input_;
    Bytes output_;
    size_t blockAt_[kDeltaBlockCount] = {};
};
