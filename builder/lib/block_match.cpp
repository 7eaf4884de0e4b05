#include "builder/lib/block_match.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "builder/lib/parallel.h"

namespace {

constexpr uint64_t kMultiplier = 0x100000001B3ull;

// A continued alignment ends once its score (matching bytes count +1,
// others -1) falls this far below its best; it is then cut at the best.
constexpr int64_t kGiveUpScore = 24;

uint64_t Mix(uint64_t h) {
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
}

uint64_t HashOf(const uint8_t* data, uint32_t length) {
    uint64_t h = 0;
    for (uint32_t i = 0; i < length; ++i) h = h * kMultiplier + data[i] + 1;
    return h;
}

// Open addressing over source positions + 1 (0 is empty). Blocks of equal
// content are kept once, at their first position: runs of zeros or padding
// would otherwise fill long probe chains.
class BlockIndex {
  public:
    BlockIndex(const Bytes& source, uint32_t blockLength)
        : source_(source.data()), length_(blockLength) {
        const uint64_t blocks = source.size() / blockLength;
        uint64_t slots = 1;
        while (slots < blocks * 2) slots <<= 1;
        mask_ = slots - 1;
        table_.assign(static_cast<size_t>(slots), 0);
        for (uint64_t b = 0; b < blocks; ++b) {
            const uint64_t pos = b * blockLength;
            Insert(HashOf(source_ + pos, length_), static_cast<uint32_t>(pos));
        }
    }

    // A source position whose block equals window, or -1.
    int64_t Find(uint64_t hash, const uint8_t* window) const {
        for (uint64_t at = Mix(hash) & mask_;; at = (at + 1) & mask_) {
            const uint32_t slot = table_[at];
            if (slot == 0) return -1;
            if (std::memcmp(source_ + slot - 1, window, length_) == 0) return slot - 1;
        }
    }

  private:
    void Insert(uint64_t hash, uint32_t pos) {
        for (uint64_t at = Mix(hash) & mask_;; at = (at + 1) & mask_) {
            const uint32_t slot = table_[at];
            if (slot == 0) {
                table_[at] = pos + 1;
                return;
            }
            if (std::memcmp(source_ + slot - 1, source_ + pos, length_) == 0) return;
        }
    }

    const uint8_t* source_;
    uint32_t length_;
    uint64_t mask_ = 0;
    std::vector<uint32_t> table_;
};

class BlockScan {
  public:
    BlockScan(const MatchText& text, uint32_t blockLength)
        : text_(text),
          src_(text.source->data()),
          tgt_(text.target->data()),
          sourceSize_(text.source->size()),
          targetSize_(text.target->size()),
          length_(blockLength),
          index_(*text.source, blockLength) {
        power_ = 1;
        for (uint32_t i = 0; i < length_; ++i) power_ *= kMultiplier;
    }

    // Spans covering target bytes [from, to), found within them alone.
    std::vector<DeltaSpan> Run(uint64_t from, uint64_t to) const;

  private:
    // Exact bytes before src and out, down to floor in the target.
    uint64_t Backward(uint64_t src, uint64_t out, uint64_t floor) const {
        uint64_t n = 0;
        while (n < src && out - n > floor && src_[src - n - 1] == tgt_[out - n - 1]) ++n;
        return n;
    }

    // How far the alignment src - out continues from out: exact bytes, then
    // scattered differences while most bytes still agree.
    uint64_t Forward(uint64_t src, uint64_t out, uint64_t end) const {
        uint64_t best = 0;
        int64_t score = 0, bestScore = 0;
        const uint64_t limit = std::min(sourceSize_ - src, end - out);
        for (uint64_t n = 0; n < limit;) {
            // Runs of equal bytes only raise the score: taken a word at a time.
            const uint64_t run = CommonPrefix(src_ + src + n, tgt_ + out + n, limit - n);
            n += run;
            score += static_cast<int64_t>(run);
            if (score > bestScore) {
                bestScore = score;
                best = n;
            }
            if (n == limit) break;
            ++n;  // a byte that differs
            if (--score < bestScore - kGiveUpScore) break;
        }
        return best;
    }

    static void Literal(std::vector<DeltaSpan>* spans, uint64_t from, uint64_t to) {
        if (to > from) {
            spans->push_back(
                DeltaSpan{static_cast<uint32_t>(from), static_cast<uint32_t>(to - from), false, 0});
        }
    }

    const MatchText& text_;
    const uint8_t* src_;
    const uint8_t* tgt_;
    uint64_t sourceSize_, targetSize_;
    uint32_t length_;
    BlockIndex index_;
    uint64_t power_ = 1;
};

std::vector<DeltaSpan> BlockScan::Run(uint64_t from, uint64_t to) const {
    std::vector<DeltaSpan> spans;
    uint64_t literalStart = from, out = from;
    uint64_t nextReport = from + kScanReportStep;
    // The rolling hash covers tgt_[out, out + length_) whenever valid.
    bool valid = false;
    uint64_t hash = 0;
    while (out + length_ <= to) {
        if (text_.onScan != nullptr && out >= nextReport) {
            (*text_.onScan)(kScanReportStep, static_cast<uint32_t>(targetSize_));
            nextReport = out + kScanReportStep;
        }
        if (!valid) {
            hash = HashOf(tgt_ + out, length_);
            valid = true;
        }
        const int64_t found = index_.Find(hash, tgt_ + out);
        if (found < 0) {
            if (out + length_ == to) break;
            hash = hash * kMultiplier + tgt_[out + length_] + 1 - power_ * (tgt_[out] + 1u);
            ++out;
            continue;
        }
        const uint64_t src = static_cast<uint64_t>(found);
        const uint64_t back = Backward(src, out, literalStart);
        const uint64_t start = out - back;
        const uint64_t length = back + Forward(src, out, to);
        Literal(&spans, literalStart, start);
        spans.push_back(DeltaSpan{static_cast<uint32_t>(start), static_cast<uint32_t>(length), true,
                                  static_cast<uint32_t>(src - back)});
        out = start + length;
        literalStart = out;
        valid = false;
    }
    Literal(&spans, literalStart, to);
    return spans;
}

// Appends a piece's spans, joining spans that continue each other across
// the cut.
void Append(std::vector<DeltaSpan>* spans, const std::vector<DeltaSpan>& piece) {
    for (const DeltaSpan& span : piece) {
        DeltaSpan* last = spans->empty() ? nullptr : &spans->back();
        if (last != nullptr && last->aligned == span.aligned &&
            (!span.aligned || static_cast<uint64_t>(last->srcPos) + last->length == span.srcPos)) {
            last->length += span.length;
        } else {
            spans->push_back(span);
        }
    }
}

}  // namespace

uint32_t BlockLengthFor(uint64_t sourceSize) {
    const uint64_t maxBlocks = kBlockIndexBytes / sizeof(uint32_t) / 2;
    uint32_t length = kMinBlockLength;
    while (sourceSize / length > maxBlocks) length <<= 1;
    return length;
}

std::vector<DeltaSpan> FindBlockMatches(const MatchText& text, uint32_t blockLength,
                                        unsigned threads, uint64_t pieceLength) {
    if (text.target->empty()) return {};
    const BlockScan scan(text, blockLength);
    const uint64_t size = text.target->size();
    std::vector<std::vector<DeltaSpan>> pieces((size + pieceLength - 1) / pieceLength);
    const std::function<void(size_t)> one = [&](size_t k) {
        const uint64_t from = k * pieceLength;
        pieces[k] = scan.Run(from, std::min(size, from + pieceLength));
    };
    ParallelFor(pieces.size(), threads, one, nullptr);
    std::vector<DeltaSpan> spans;
    for (auto& piece : pieces) {
        Append(&spans, piece);
        std::vector<DeltaSpan>().swap(piece);
    }
    return spans;
}
