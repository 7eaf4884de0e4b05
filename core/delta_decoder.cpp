#include "core/delta_decoder.h"

#include <cstring>

#include "core/crc.h"
#include "core/result_codes.h"

namespace {

constexpr uint32_t kCopyPiece = 1024;
constexpr uint32_t kBlockBuffer = 1024;
constexpr uint32_t kMaxChunk = 2 * 255 - 1;  // a last insert piece is below 2 * ChunkSize

// Buffered, bounded reading of the five blocks: a read past a block's own
// length is a damaged patch, whatever the file behind it holds.
class BlockReader {
  public:
    BlockReader(const VariantHeader& v, DeltaStepIo& io) : io_(io) {
        for (int b = 0; b < kDeltaBlockCount; ++b) remaining_[b] = v.blockLength[b];
    }

    uint32_t Remaining(int block) const {
        return remaining_[block] + (fill_[block] - next_[block]);
    }

    bool Take(int block, uint8_t* out, uint32_t count) {
        while (count > 0) {
            if (next_[block] == fill_[block] && !Refill(block)) return false;
            uint32_t n = fill_[block] - next_[block];
            if (n > count) n = count;
            std::memcpy(out, buffer_[block] + next_[block], n);
            next_[block] += n;
            out += n;
            count -= n;
        }
        return true;
    }

    bool TakeByte(int block, uint8_t* out) { return Take(block, out, 1); }

  private:
    bool Refill(int block) {
        uint32_t want = remaining_[block] < kBlockBuffer ? remaining_[block] : kBlockBuffer;
        uint32_t got = 0;
        if (want == 0 || !io_.ReadBlockBytes(block, buffer_[block], want, &got) || got != want) {
            return false;
        }
        remaining_[block] -= want;
        next_[block] = 0;
        fill_[block] = want;
        return true;
    }

    DeltaStepIo& io_;
    uint32_t remaining_[kDeltaBlockCount];
    uint32_t next_[kDeltaBlockCount] = {};
    uint32_t fill_[kDeltaBlockCount] = {};
    uint8_t buffer_[kDeltaBlockCount][kBlockBuffer];
};

class BitReader {
  public:
    BitReader(BlockReader& blocks, int block) : blocks_(blocks), block_(block) {}
    // Least significant bit first; a new byte at every eighth bit.
    bool Next(bool* bit) {
        if (index_ == 0 && !blocks_.TakeByte(block_, &byte_)) return false;
        *bit = (byte_ >> index_) & 1;
        index_ = (index_ + 1) & 7;
        return true;
    }

  private:
    BlockReader& blocks_;
    int block_;
    uint8_t byte_ = 0;
    int index_ = 0;
};

class Step {
  public:
    Step(const VariantHeader& v, uint32_t outputSize, DeltaStepIo& io)
        : v_(v),
          io_(io),
          blocks_(v, io),
          bitB_(blocks_, kBitStreamB),
          bitC_(blocks_, kBitStreamC),
          bound_(DeltaBound(v, outputSize)),
          outputSize_(outputSize) {}

    int Run() {
        while (blocks_.Remaining(kCommandBlock) > 0) {
            io_.Pump();
            int64_t n = 0;
            if (!ReadPackedInteger(&n)) return kPatchDamaged;
            int result = kOk;
            if (n == 0) {
                --groupCounter_;
            } else if (n > 0) {
                result = Copy(n);
            } else {
                result = Insert(-n);
            }
            if (result != kOk) return result;
        }
        return kOk;
    }

    uint32_t crc() const { return crc_; }
    uint32_t written() const { return written_; }

  private:
    bool ReadPackedInteger(int64_t* value) {
        uint8_t byte = 0;
        bool more = false;
        if (!blocks_.TakeByte(kCommandBlock, &byte)) return false;
        int64_t v = byte;
        if (bound_ > 255) {
            if (!bitB_.Next(&more)) return false;
            if (more) {
                if (!blocks_.TakeByte(kCommandBlock, &byte)) return false;
                v += static_cast<int64_t>(byte) << 8;
                if (bound_ > 65535) {
                    if (!bitC_.Next(&more)) return false;
                    if (more) {
                        if (!blocks_.TakeByte(kCommandBlock, &byte)) return false;
                        v += static_cast<int64_t>(byte) << 16;
                        if (bound_ > 16777215) {
                            if (!bitC_.Next(&more)) return false;
                            if (more) {
                                if (!blocks_.TakeByte(kCommandBlock, &byte)) return false;
                                v += static_cast<int64_t>(byte) << 24;
                            }
                        }
                    }
                }
            }
        }
        bool negative = false;
        if (!bitB_.Next(&negative)) return false;
        *value = negative ? -v : v;
        return true;
    }

    int Copy(int64_t n) {
        int64_t d = 0;
        if (!ReadPackedInteger(&d)) return kPatchDamaged;
        int64_t p = copyBase_ + lastCopyLength_ + d;
        if (p < 0 || p > 0xFFFFFFFFll) return kPatchDamaged;
        if (groupCounter_ == 0) {
            if (!blocks_.TakeByte(kCommandBlock, &diffLength_)) return kPatchDamaged;
            groupCounter_ = v_.groupSize;
        }
        --groupCounter_;
        copyBase_ = p;
        lastCopyLength_ = n;
        int result = CopySourceData(p, n);
        if (result != kOk || diffLength_ == 0) return result;
        return AddAndWrite(kDiffBlock, diffLength_, p + n, (v_.deltaFlags & kRawDiffs) == 0);
    }

    int Insert(int64_t m) {
        if (v_.chunkSize == 0) return kPatchDamaged;
        const int64_t c = v_.chunkSize;
        // Pieces of c bytes; the last piece takes the whole rest (c to 2c-1
        // bytes), so the run ends with it.
        for (int64_t i = 0; i < m;) {
            int64_t r = m - i;
            uint32_t length = static_cast<uint32_t>(r < 2 * c ? r : c);
            bool unchanged = false;
            // The chunk's bytes are read first, then its bit, as the format orders them.
            uint8_t chunk[kMaxChunk];
            if (!blocks_.Take(kInsertBlock, chunk, length)) return kPatchDamaged;
            if (!bitC_.Next(&unchanged)) return kPatchDamaged;
            int64_t at = copyBase_ + lastCopyLength_ + diffLength_ + i;
            int result = unchanged ? Write(chunk, length) : AddSourceAndWrite(chunk, length, at);
            if (result != kOk) return result;
            i += length;
        }
        return kOk;
    }

    // Reads length bytes of block, adds the source bytes at `at` when asked, writes them.
    int AddAndWrite(int block, uint32_t length, int64_t at, bool add) {
        uint8_t bytes[256];
        if (!blocks_.Take(block, bytes, length)) return kPatchDamaged;
        return add ? AddSourceAndWrite(bytes, length, at) : Write(bytes, length);
    }

    int AddSourceAndWrite(uint8_t* bytes, uint32_t length, int64_t at) {
        uint8_t source[kMaxChunk];
        uint32_t got = 0;
        if (at < 0 || at > 0xFFFFFFFFll) return kPatchDamaged;
        if (!ReadSourceData(static_cast<uint32_t>(at), source, length, &got) || got != length) {
            return kPatchDamaged;
        }
        for (uint32_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(bytes[i] + source[i]);
        return Write(bytes, length);
    }

    // A position below the source size addresses the input, any other the
    // output written so far; one read is served by one of them only.
    bool ReadSourceData(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) {
        if (position < v_.sourceSize) return io_.ReadInput(position, buffer, count, got);
        return io_.ReadOutput(position - v_.sourceSize, buffer, count, got);
    }

    // Copies in 1 KB pieces, each addressed by its own start. Only bytes that
    // exist are written: a piece that comes back short ends the copy, and the
    // final size and CRC check judges the result.
    int CopySourceData(int64_t position, int64_t count) {
        uint8_t buffer[kCopyPiece];
        while (count > 0) {
            if (position > 0xFFFFFFFFll) return kOk;
            uint32_t piece = count < kCopyPiece ? static_cast<uint32_t>(count) : kCopyPiece;
            uint32_t got = 0;
            if (!ReadSourceData(static_cast<uint32_t>(position), buffer, piece, &got)) {
                return kDiskFull;
            }
            if (got > piece) return kPatchDamaged;
            int result = Write(buffer, got);
            if (result != kOk || got < piece) return result;
            position += piece;
            count -= piece;
        }
        return kOk;
    }

    // More output than the step's size can never verify; stop before the disk fills.
    int Write(const uint8_t* buffer, uint32_t count) {
        if (count == 0) return kOk;
        if (static_cast<uint64_t>(written_) + count > outputSize_) return kChecksumMismatch;
        if (!io_.WriteOutput(buffer, count)) return kDiskFull;
        crc_ = CrcOfBuffer(buffer, count, crc_);
        written_ += count;
        return kOk;
    }

    const VariantHeader& v_;
    DeltaStepIo& io_;
    BlockReader blocks_;
    BitReader bitB_;
    BitReader bitC_;
    const int64_t bound_;
    const uint32_t outputSize_;
    int64_t copyBase_ = 0;
    int64_t lastCopyLength_ = 0;
    uint8_t diffLength_ = 0;
    int64_t groupCounter_ = 0;
    uint32_t crc_ = kCrcStart;
    uint32_t written_ = 0;
};

}  // namespace

int64_t DeltaBound(const VariantHeader& variant, uint32_t outputSize) {
    const uint64_t source = variant.sourceSize;
    if (variant.deltaFlags & kReachOutput) return static_cast<int64_t>(source + outputSize);
    return static_cast<int64_t>(source > outputSize ? source : outputSize);
}

DeltaStepOutcome ReconstructStep(const VariantHeader& variant, uint32_t outputSize,
                                 DeltaStepIo& io) {
    Step step(variant, outputSize, io);
    int result = step.Run();
    return DeltaStepOutcome{result, step.crc(), step.written()};
}
