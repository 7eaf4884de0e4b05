#include "engine/delta_step_files.h"

#include <cstring>

#include "platform/file_primitives.h"

namespace {

constexpr uint32_t kInputBufferSize = 64 * 1024;
constexpr uint32_t kBlockBufferSize = 16 * 1024;
constexpr uint32_t kOutputBufferSize = 64 * 1024;
constexpr DWORD kPumpIntervalMs = 10;

}  // namespace

BufferedFileReader::BufferedFileReader(HANDLE file, uint32_t bufferSize)
    : file_(file), buffer_(bufferSize) {}

bool BufferedFileReader::Read(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) {
    *got = 0;
    bool hit =
        position >= start_ && position - start_ < filled_ && count <= filled_ - (position - start_);
    if (!hit) {
        if (count >= buffer_.size()) {
            // Too large to gain from the buffer: read it directly.
            if (SeekTo(file_, position) != position) return false;
            return ReadSome(file_, buffer, count, got);
        }
        filled_ = 0;
        if (SeekTo(file_, position) != position) return false;
        if (!ReadSome(file_, buffer_.data(), static_cast<uint32_t>(buffer_.size()), &filled_)) {
            filled_ = 0;
            return false;
        }
        start_ = position;
    }
    uint32_t offset = position - start_;
    uint32_t available = filled_ > offset ? filled_ - offset : 0;
    *got = count < available ? count : available;
    std::memcpy(buffer, buffer_.data() + offset, *got);
    return true;
}

FileDeltaStepIo::FileDeltaStepIo(RunHost& host, HANDLE input, HANDLE output,
                                 const HANDLE blocks[kDeltaBlockCount])
    : host_(host),
      output_(output),
      input_(input, kInputBufferSize),
      blocks_{{blocks[0], kBlockBufferSize},
              {blocks[1], kBlockBufferSize},
              {blocks[2], kBlockBufferSize},
              {blocks[3], kBlockBufferSize},
              {blocks[4], kBlockBufferSize}},
      pending_(kOutputBufferSize) {}

bool FileDeltaStepIo::ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) {
    if (!blocks_[block].Read(blockPosition_[block], buffer, count, got)) return false;
    blockPosition_[block] += *got;
    return true;
}

bool FileDeltaStepIo::ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) {
    return input_.Read(position, buffer, count, got);
}

bool FileDeltaStepIo::ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count,
                                 uint32_t* got) {
    *got = 0;
    uint32_t total = flushedSize_ + pendingSize_;
    if (position >= total) return true;
    if (position >= flushedSize_) {
        // Still gathered: serve it from memory.
        uint32_t available = total - position;
        *got = count < available ? count : available;
        std::memcpy(buffer, pending_.data() + (position - flushedSize_), *got);
        return true;
    }
    if (!Flush()) return false;
    if (SeekTo(output_, position) != position) return false;
    bool ok = ReadSome(output_, buffer, count, got);
    // Writing continues at the end of what was written.
    SeekToEnd(output_);
    return ok;
}

bool FileDeltaStepIo::WriteOutput(const uint8_t* buffer, uint32_t count) {
    if (pendingSize_ + count > kOutputBufferSize && !Flush()) return false;
    if (count >= kOutputBufferSize) {
        if (!WriteBlock(output_, buffer, count)) return false;
        flushedSize_ += count;
        return true;
    }
    std::memcpy(pending_.data() + pendingSize_, buffer, count);
    pendingSize_ += count;
    return true;
}

bool FileDeltaStepIo::Flush() {
    if (pendingSize_ == 0) return true;
    if (!WriteBlock(output_, pending_.data(), pendingSize_)) return false;
    flushedSize_ += pendingSize_;
    pendingSize_ = 0;
    return true;
}

void FileDeltaStepIo::Pump() {
    DWORD now = GetTickCount();
    if (pumped_ && now - lastPump_ < kPumpIntervalMs) return;
    pumped_ = true;
    lastPump_ = now;
    host_.PumpMessages();
}
