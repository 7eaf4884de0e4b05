#include "builder/lib/delta_serializer.h"

#include <algorithm>

#include "builder/lib/delta_block_writer.h"
#include "core/delta_decoder.h"

namespace {

// Candidate diff lengths for the adaptive choice, and the estimated cost in
// bits of what a group emits: zero bytes compress to almost nothing, other
// bytes and command integers cost most of their eight bits.
constexpr int kDiffCandidates[] = {0, 1, 2, 3, 4, 6, 8, 12, 16};
constexpr uint32_t kZeroByteBits = 1;
constexpr uint32_t kByteBits = 6;
constexpr uint32_t kIntegerBits = 10;
constexpr uint32_t kMaxDiffLength = 255;
// An insert is added to the output a stride back only when it is this long
// and its differences need a share of (share - 1) / share of the bits of its
// bytes or fewer (order-0 entropy).
constexpr uint32_t kMinStrideInsert = 32;
constexpr uint64_t kStrideGainShare = 5;
// ... and fewer than this many times the bits of the bytes added to the source.
constexpr uint64_t kAddedBitsFactor = 2;
constexpr int kLog2FractionBits = 8;
// Estimated bits of a copy's commands, and of a mismatching byte in its diff,
// against which a span is judged for stride inserts.
constexpr uint64_t kClusterBits = 16;
constexpr uint64_t kMismatchBits = 6;
// Inserts are added to the source only when that makes more than 1/share of
// their bytes zero beyond those that are zero raw.
constexpr uint32_t kAddedZeroShare = 4;
// Insert pieces shorter than this are raw or added as their whole insert is.
constexpr uint32_t kMinJudgedPiece = 16;
// Estimated bits, in 1/256 bits, of an insert byte once deflated: a zero
// is cheap; a difference that is not zero is close to noise and costs more
// than a byte. Raw bytes that are not zero cost their order-0 share of the
// target (text a few bits, code nearly eight).
constexpr uint64_t kZeroInsertBits = 2 << kLog2FractionBits;
constexpr uint64_t kAddedNonZeroBits = 9 << kLog2FractionBits;

// log2(x) in 1/256 bits, in integers so every build ranks alike.
uint64_t Log2Fixed(uint32_t x) {
    uint32_t whole = 0;
    while ((x >> whole) > 1) ++whole;
    // The mantissa in [1, 2) as a 1.31 fixed-point number, squared once per fraction bit.
    uint64_t y = (static_cast<uint64_t>(x) << 31) >> whole;
    uint64_t result = static_cast<uint64_t>(whole) << kLog2FractionBits;
    for (int bit = kLog2FractionBits - 1; bit >= 0; --bit) {
        y = (y * y) >> 31;
        if (y >= (uint64_t{2} << 31)) {
            y >>= 1;
            result |= uint64_t{1} << bit;
        }
    }
    return result;
}

// Order-0 entropy of `total` bytes with these counts, in 1/256 bits.
uint64_t EntropyBits(const uint32_t counts[256], uint32_t total) {
    uint64_t bits = 0;
    const uint64_t all = Log2Fixed(total);
    for (int v = 0; v < 256; ++v) {
        if (counts[v] != 0) bits += counts[v] * (all - Log2Fixed(counts[v]));
    }
    return bits;
}

struct Cursor {
    uint32_t out = 0;
    size_t span = 0;
    int64_t copyBase = 0;
    int64_t lastCopyLength = 0;
    uint8_t diffLength = 0;
    int64_t groupCounter = 0;
    uint32_t insertStart = 0;
};

class Serializer {
  public:
    Serializer(const MatchText& text, const std::vector<DeltaSpan>& spans,
               const SerializeParams& params, int64_t bound)
        : text_(text), spans_(spans), params_(params), writer_(bound) {
        sourceSize_ = static_cast<uint32_t>(text.source->size());
        targetSize_ = static_cast<uint32_t>(text.target->size());
    }

    void Run() {
        if (params_.chunkSize >= kMinJudgedPiece) rawNonZeroBits_ = NonZeroBits(*text_.target);
        Cursor c;
        Emit emit{nullptr};
        while (Step(&c, &emit)) {
        }
    }

    DeltaBlockWriter& writer() { return writer_; }

  private:
    // Where a step's output goes: into the blocks, or into a cost estimate
    // when a group's diff length is being chosen.
    struct Emit {
        uint64_t* cost;  // null: write blocks
    };

    uint8_t SourceByte(int64_t pos) const {
        return pos < sourceSize_ ? (*text_.source)[pos] : (*text_.target)[pos - sourceSize_];
    }

    // A read of count bytes at pos, made when `written` output bytes exist.
    bool CanRead(int64_t pos, uint32_t count, uint32_t written) const {
        if (pos < 0) return false;
        if (pos < sourceSize_) return pos + count <= sourceSize_;
        if (!text_.reachOutput) return false;
        return (pos - sourceSize_) + count <= written;
    }

    uint32_t ExactRun(uint32_t out, int64_t src, uint32_t limit) const {
        if (src >= 0 && src + limit <= sourceSize_) {
            return static_cast<uint32_t>(
                CommonPrefix(text_.target->data() + out, text_.source->data() + src, limit));
        }
        uint32_t n = 0;
        while (n < limit && (*text_.target)[out + n] == SourceByte(src + n)) ++n;
        return n;
    }

    // Advances the cursor by one decision; false at the end of the target.
    bool Step(Cursor* c, Emit* emit) {
        if (c->out >= targetSize_) {
            FlushInsert(c, emit);
            return false;
        }
        while (spans_[c->span].outPos + spans_[c->span].length <= c->out) ++c->span;
        const DeltaSpan& span = spans_[c->span];
        uint32_t spanEnd = span.outPos + span.length;
        if (!span.aligned) {
            c->out = spanEnd;
            return true;
        }
        int64_t src = static_cast<int64_t>(span.srcPos) + (c->out - span.outPos);
        uint32_t limit =
            std::min(spanEnd - c->out, ReadableLength(text_, static_cast<uint32_t>(src), c->out));
        uint32_t run = ExactRun(c->out, src, limit);
        if (run < params_.minCopy) {
            c->out += std::max<uint32_t>(run, 1);
            return true;
        }
        // A look-ahead ends where its group ends, before choosing for the next.
        if (emit->cost != nullptr && c->groupCounter == 0) return false;
        uint8_t diffLength =
            c->groupCounter == 0 ? ChooseDiffLength(*c, src, run, spanEnd) : c->diffLength;
        uint32_t copyLength = FitCopy(*c, src, run, diffLength);
        if (copyLength == 0) {
            c->out += run;
            return true;
        }
        FlushInsert(c, emit);
        Copy(c, emit, src, copyLength, diffLength);
        return true;
    }

    // Shortens a copy so that its diff bytes stay inside the target and read
    // only source bytes that exist; 0 when no copy fits.
    uint32_t FitCopy(const Cursor& c, int64_t src, uint32_t run, uint8_t diffLength) const {
        int64_t n = run;
        n = std::min<int64_t>(n, static_cast<int64_t>(targetSize_) - c.out - diffLength);
        if (!params_.rawDiffs && diffLength > 0) {
            if (src < sourceSize_) {
                n = std::min<int64_t>(n, sourceSize_ - src - diffLength);
            } else if ((src - sourceSize_) + diffLength > c.out) {
                n = 0;
            }
        }
        return n < 1 ? 0 : static_cast<uint32_t>(n);
    }

    void Copy(Cursor* c, Emit* emit, int64_t src, uint32_t n, uint8_t diffLength) {
        int64_t d = src - (c->copyBase + c->lastCopyLength);
        bool newGroup = c->groupCounter == 0;
        if (newGroup) {
            c->diffLength = diffLength;
            c->groupCounter = params_.groupSize;
        }
        --c->groupCounter;
        c->copyBase = src;
        c->lastCopyLength = n;
        uint8_t diff[256];
        for (uint32_t j = 0; j < c->diffLength; ++j) {
            uint8_t target = (*text_.target)[c->out + n + j];
            diff[j] =
                params_.rawDiffs ? target : static_cast<uint8_t>(target - SourceByte(src + n + j));
        }
        if (emit->cost != nullptr) {
            *emit->cost +=
                2 * kIntegerBits + (newGroup ? kByteBits : 0) + BytesCost(diff, c->diffLength);
        } else {
            writer_.PackedInteger(n);
            writer_.PackedInteger(d);
            if (newGroup) writer_.CommandByte(c->diffLength);
            writer_.DiffBytes(diff, c->diffLength);
        }
        c->out += n + c->diffLength;
        c->insertStart = c->out;
    }

    static uint64_t BytesCost(const uint8_t* bytes, uint32_t count) {
        uint64_t cost = 0;
        for (uint32_t i = 0; i < count; ++i) cost += bytes[i] == 0 ? kZeroByteBits : kByteBits;
        return cost;
    }

    // Emits the bytes between the last copy and the cursor: one insert, or,
    // where the output a stride back explains them better, an insert of the
    // bytes up to one that equals its predecessor a stride back, a one-byte
    // copy of that predecessor, and an insert added to the output behind it.
    void FlushInsert(Cursor* c, Emit* emit) {
        uint32_t m = std::min(c->out, targetSize_) - c->insertStart;
        if (m == 0) return;
        uint32_t head = 0;
        if (emit->cost == nullptr && StrideStart(*c, m, &head)) {
            Insert(c, emit, head, false);
            StrideCopy(c);
            Insert(c, emit, m - head - 1, true);
            return;
        }
        Insert(c, emit, m, false);
    }

    // The one-byte copy from a stride back at the insert start, with no diff
    // bytes; the inserts behind it then add to the output a stride back.
    void StrideCopy(Cursor* c) {
        int64_t src = static_cast<int64_t>(sourceSize_) + c->insertStart - params_.stride;
        writer_.PackedInteger(1);
        writer_.PackedInteger(src - (c->copyBase + c->lastCopyLength));
        if (c->groupCounter == 0) {
            writer_.CommandByte(0);
            c->diffLength = 0;
            c->groupCounter = params_.groupSize;
        }
        --c->groupCounter;
        c->copyBase = src;
        c->lastCopyLength = 1;
        c->insertStart += 1;
    }

    // Adding pays only when it clearly turns more bytes into zeros: more
    // than a share of the insert beyond the zeros it has raw.
    static bool AddingPays(uint32_t rawZeros, uint32_t addedZeros, uint32_t length) {
        return addedZeros > rawZeros + length / kAddedZeroShare;
    }

    // ... and, for a piece judged on its own, when its differences are
    // estimated to deflate smaller than its raw bytes: in text a piece whose
    // differences are a third zeros and the rest noise is cheaper raw.
    bool PieceAddingPays(uint32_t rawZeros, uint32_t addedZeros, uint32_t length) const {
        const uint64_t rawBits = rawZeros * kZeroInsertBits + (length - rawZeros) * rawNonZeroBits_;
        const uint64_t addedBits =
            addedZeros * kZeroInsertBits + (length - addedZeros) * kAddedNonZeroBits;
        return AddingPays(rawZeros, addedZeros, length) && addedBits < rawBits;
    }

    // Order-0 bits of the bytes of data that are not zero, per byte, in 1/256 bits.
    static uint64_t NonZeroBits(const Bytes& data) {
        uint32_t counts[256] = {};
        for (uint8_t b : data) ++counts[b];
        const uint32_t nonZero = static_cast<uint32_t>(data.size()) - counts[0];
        counts[0] = 0;
        return nonZero == 0 ? kAddedNonZeroBits : EntropyBits(counts, nonZero) / nonZero;
    }

    // AddingPays over the m bytes from the insert start, as far as the bytes
    // behind the last copy exist.
    bool AddingPays(const Cursor& c, uint32_t m) const {
        int64_t aligned = c.copyBase + c.lastCopyLength + c.diffLength;
        uint32_t rawZeros = 0, addedZeros = 0, i = 0;
        for (; i < m && CanRead(aligned + i, 1, c.insertStart + i); ++i) {
            uint8_t b = (*text_.target)[c.insertStart + i];
            rawZeros += b == 0;
            addedZeros += static_cast<uint8_t>(b - SourceByte(aligned + i)) == 0;
        }
        return AddingPays(rawZeros, addedZeros, i);
    }

    // True when the m bytes from the insert start are worth adding to the
    // output a stride back; *head is where the one-byte copy goes.
    bool StrideStart(const Cursor& c, uint32_t m, uint32_t* head) const {
        const uint32_t stride = params_.stride;
        if (stride == 0 || (c.groupCounter != 0 && c.diffLength != 0) || !text_.reachOutput ||
            m < kMinStrideInsert || c.insertStart < stride) {
            return false;
        }
        const uint8_t* t = text_.target->data() + c.insertStart - stride;  // a stride back
        const uint8_t* u = t + stride;                                     // the insert
        uint32_t k = 0;
        while (k < m && u[k] != t[k]) ++k;
        if (k + kMinStrideInsert > m) return false;
        // The alternatives: the bytes raw, or added to the source bytes that
        // continue the last copy where those exist; the latter is judged
        // leniently, as its order-0 bits understate what deflate makes of
        // stride differences.
        int64_t aligned = c.copyBase + c.lastCopyLength + c.diffLength;
        const bool canAdd = CanRead(aligned + k, m - k, c.insertStart + k);
        uint32_t strided[256] = {}, raw[256] = {}, added[256] = {};
        for (uint32_t i = k; i < m; ++i) {
            ++strided[static_cast<uint8_t>(u[i] - t[i])];
            ++raw[u[i]];
            if (canAdd) ++added[static_cast<uint8_t>(u[i] - SourceByte(aligned + i))];
        }
        *head = k;
        const uint64_t bits = EntropyBits(strided, m - k);
        return bits * kStrideGainShare < EntropyBits(raw, m - k) * (kStrideGainShare - 1) &&
               (!canAdd || bits < EntropyBits(added, m - k) * kAddedBitsFactor);
    }

    // Emits m bytes from the insert start as one insert: each piece raw or
    // added to the bytes behind the last copy, whichever leaves more zeros,
    // or every piece added when `addAll`.
    void Insert(Cursor* c, Emit* emit, uint32_t m, bool addAll) {
        if (m == 0) return;
        if (emit->cost == nullptr) writer_.PackedInteger(-static_cast<int64_t>(m));
        const uint32_t chunk = params_.chunkSize;
        int64_t aligned = c->copyBase + c->lastCopyLength + c->diffLength;
        // Pieces too short to judge on their own follow the whole insert.
        const bool runPays = chunk < kMinJudgedPiece && AddingPays(*c, m);
        uint8_t raw[512], added[512];
        uint32_t length = 0;
        for (uint32_t i = 0; i < m; i += length) {
            uint32_t r = m - i;
            length = r < 2 * chunk ? r : chunk;
            uint32_t at = c->insertStart + i;
            bool canAdd = CanRead(aligned + i, length, at);
            uint32_t rawZeros = 0, addedZeros = 0;
            for (uint32_t k = 0; k < length; ++k) {
                raw[k] = (*text_.target)[at + k];
                rawZeros += raw[k] == 0;
                if (canAdd) {
                    added[k] = static_cast<uint8_t>(raw[k] - SourceByte(aligned + i + k));
                    addedZeros += added[k] == 0;
                }
            }
            bool useAdded =
                canAdd && (addAll || (chunk < kMinJudgedPiece
                                          ? runPays
                                          : PieceAddingPays(rawZeros, addedZeros, length)));
            const uint8_t* bytes = useAdded ? added : raw;
            if (emit->cost != nullptr) {
                *emit->cost += BytesCost(bytes, length) + 1;
            } else {
                writer_.InsertBytes(bytes, length);
                writer_.BitC(!useAdded);
            }
        }
        if (emit->cost != nullptr) *emit->cost += kIntegerBits;
        c->insertStart += m;
    }

    // For the next group: the diff length whose next groupSize copies are
    // estimated to cost least.
    uint8_t ChooseDiffLength(const Cursor& c, int64_t src, uint32_t run, uint32_t spanEnd) {
        if (params_.diffLength == kClusterDiffLength) {
            return ClusterLength(c.out + run, src + run, std::min(spanEnd, targetSize_));
        }
        if (params_.diffLength != kAdaptiveDiffLength)
            return static_cast<uint8_t>(params_.diffLength);
        uint64_t bestCost = UINT64_MAX;
        uint8_t best = 0;
        for (int candidate : kDiffCandidates) {
            Cursor trial = c;
            trial.groupCounter = params_.groupSize;
            trial.diffLength = static_cast<uint8_t>(candidate);
            uint64_t cost = 0;
            Emit emit{&cost};
            while (Step(&trial, &emit)) {
            }
            // Normalise by progress so short look-aheads are not favoured.
            uint32_t progress = std::max<uint32_t>(trial.out - c.out, 1);
            uint64_t scaled = cost * 1024 / progress;
            if (scaled < bestCost) {
                bestCost = scaled;
                best = static_cast<uint8_t>(candidate);
            }
        }
        return best;
    }

    bool ExactAt(uint32_t out, int64_t src) const {
        return CanRead(src, 1, out) && (*text_.target)[out] == SourceByte(src);
    }

    // Few distinct diff lengths keep the command bytes (each copy's length
    // and the next copy's displacement repeat it) cheap to compress: the
    // cluster's length grows to the first step behind which an exact byte
    // lets the next copy start. Without a fitting step it stays as it is.
    uint32_t RoundUpToStep(uint32_t out, int64_t src, uint32_t length, uint32_t limit) const {
        for (uint8_t step : params_.clusterSteps) {
            if (step == 0 || step > limit) break;
            if (step < length) continue;
            if (step == limit || ExactAt(out + step, src + step)) return step;
        }
        return length;
    }

    // Diff bytes that cover the mismatches starting at out: up to the last
    // mismatch before clusterGap exact bytes in a row, so the next copy starts
    // on an exact byte. Capped at 255, where it backs off to end before an
    // exact byte when it can.
    uint8_t ClusterLength(uint32_t out, int64_t src, uint32_t end) const {
        const uint32_t limit = std::min<uint32_t>(end - std::min(end, out), kMaxDiffLength);
        uint32_t length = 0, exactRun = 0;
        for (uint32_t i = 0; i < limit && exactRun < params_.clusterGap; ++i) {
            bool exact = ExactAt(out + i, src + i);
            exactRun = exact ? exactRun + 1 : 0;
            if (!exact) length = i + 1;
        }
        length = RoundUpToStep(out, src, length, limit);
        if (length == limit && length == kMaxDiffLength) {
            while (length > 0 && !(out + length < end && ExactAt(out + length, src + length))) {
                --length;
            }
            if (length == 0) length = kMaxDiffLength;
        }
        return static_cast<uint8_t>(length);
    }

    const MatchText& text_;
    const std::vector<DeltaSpan>& spans_;
    const SerializeParams& params_;
    DeltaBlockWriter writer_;
    uint32_t sourceSize_ = 0;
    uint32_t targetSize_ = 0;
    uint64_t rawNonZeroBits_ = kAddedNonZeroBits;
};

// The stretch's bytes less the bytes a stride back: order-0 bits, in 1/256 bits.
uint64_t StrideBits(const Bytes& target, uint32_t start, uint32_t length, uint32_t stride) {
    uint32_t counts[256] = {};
    for (uint32_t i = start; i < start + length; ++i) {
        ++counts[static_cast<uint8_t>(target[i] - target[i - stride])];
    }
    return EntropyBits(counts, length);
}

// What an aligned span's copies are estimated to cost, in 1/256 bits: each
// cluster of mismatches its commands, each mismatching byte its diff.
uint64_t AlignedBits(const MatchText& text, const DeltaSpan& span) {
    const Bytes& source = *text.source;
    const Bytes& target = *text.target;
    uint64_t bits = 0;
    bool inCluster = false;
    for (uint32_t i = 0; i < span.length; ++i) {
        size_t at = static_cast<size_t>(span.srcPos) + i;
        uint8_t old = at < source.size() ? source[at] : target[at - source.size()];
        bool mismatch = old != target[span.outPos + i];
        if (mismatch) bits += inCluster ? kMismatchBits : kMismatchBits + kClusterBits;
        inCluster = mismatch;
    }
    return bits << kLog2FractionBits;
}

// With stride inserts, an aligned span whose bytes differ from those a stride
// back more cheaply than from its source (a table rewritten throughout, such
// as relocations behind moved code) is left to the inserts.
std::vector<DeltaSpan> StrideSpans(const MatchText& text, std::vector<DeltaSpan> spans,
                                   uint32_t stride) {
    for (DeltaSpan& span : spans) {
        if (span.aligned && span.length >= kMinStrideInsert && span.outPos >= stride &&
            StrideBits(*text.target, span.outPos, span.length, stride) < AlignedBits(text, span)) {
            span.aligned = false;
        }
    }
    return spans;
}

}  // namespace

void SerializeDelta(const MatchText& text, const std::vector<DeltaSpan>& spans,
                    const SerializeParams& params, DeltaVariant* variant) {
    VariantHeader& h = variant->header;
    h = VariantHeader{};
    h.sourceSize = static_cast<uint32_t>(text.source->size());
    h.groupSize = params.groupSize;
    h.chunkSize = params.chunkSize;
    h.deltaFlags = static_cast<uint8_t>((text.reachOutput ? kReachOutput : 0) |
                                        (params.rawDiffs ? kRawDiffs : 0));
    int64_t bound = DeltaBound(h, static_cast<uint32_t>(text.target->size()));
    const bool strided = params.stride != 0 && text.reachOutput;
    const std::vector<DeltaSpan> strideSpans =
        strided ? StrideSpans(text, spans, params.stride) : std::vector<DeltaSpan>();
    Serializer serializer(text, strided ? strideSpans : spans, params, bound);
    serializer.Run();
    Bytes* blocks = serializer.writer().blocks();
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        variant->blocks[b] = std::move(blocks[b]);
        h.blockLength[b] = static_cast<uint32_t>(variant->blocks[b].size());
    }
}
