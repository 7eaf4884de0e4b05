// A plain greedy encoder: hash-chain matches of the target against the source
// (and, when allowed, against the output already written), short mismatches
// after a copy carried as diff bytes, everything else as insert runs. It mirrors
// the decoder's state exactly, so every position it emits is one the decoder
// can read at that moment.
#include "builder/lib/delta_encoder.h"

#include <algorithm>

#include "builder/lib/memory_step_io.h"
#include "core/byte_order.h"
#include "core/crc.h"
#include "core/delta_decoder.h"
#include "core/result_codes.h"

namespace {

constexpr uint16_t kDefaultGroupSize = 1;
constexpr uint8_t kDefaultChunkSize = 20;
constexpr uint32_t kMinHashBits = 12;
constexpr uint32_t kMaxHashBits = 22;
constexpr uint32_t kHashBytes = 8;  // long keys keep chains short in low-entropy data
constexpr int kMaxChainSteps = 48;
constexpr uint32_t kMinMatch = kHashBytes;
constexpr uint32_t kMaxDiffGap = 16;   // longest mismatch bridged by diff bytes
constexpr uint32_t kResumeLength = 4;  // bytes that must match again behind the gap
constexpr uint32_t kNoPosition = UINT32_MAX;
constexpr uint64_t kBoundLimit = INT32_MAX;  // the decoder's bound is a signed 32-bit value

// Positions as the decoder sees them: the input first, then the output, which
// is always the target's prefix written so far.
struct SourceSpace {
    const Bytes& input;
    const Bytes& target;
    bool reachOutput;

    uint64_t inputSize() const { return input.size(); }
    uint8_t At(uint64_t q) const { return q < input.size() ? input[q] : target[q - input.size()]; }

    // One read of the decoder is served by one file alone: wholly inside the
    // input, or wholly inside the `written` output bytes.
    bool Readable(uint64_t q, uint64_t count, uint64_t written) const {
        if (q < input.size()) return q + count <= input.size();
        return reachOutput && q - input.size() + count <= written;
    }
};

struct Match {
    uint64_t position = 0;
    uint64_t length = 0;
};

// About one table slot per position, so chains stay short on large files.
uint32_t HashBitsFor(uint64_t positions) {
    uint32_t bits = kMinHashBits;
    while (bits < kMaxHashBits && (uint64_t{1} << bits) < positions) ++bits;
    return bits;
}

class MatchFinder {
  public:
    explicit MatchFinder(const SourceSpace& space)
        : space_(space),
          hashBits_(HashBitsFor(space.input.size() + space.target.size())),
          head_(size_t{1} << hashBits_, kNoPosition),
          prev_(space.input.size() + space.target.size(), kNoPosition) {
        const Bytes& in = space.input;
        for (size_t q = 0; q + kHashBytes <= in.size(); ++q) Link(HashAt(&in[q]), q);
    }

    // Output position j becomes a candidate once the decoder has written it.
    void AddOutput(uint64_t j) {
        if (!space_.reachOutput || j + kHashBytes > space_.target.size()) return;
        Link(HashAt(&space_.target[j]), space_.inputSize() + j);
    }

    // Longest match for target[t...] among positions readable now. `preferred`
    // (where the source continues behind the last copy) is tried first, so a
    // file with scattered changes stays aligned however full the chains are.
    Match Find(uint64_t t, uint64_t preferred) const {
        const Bytes& target = space_.target;
        Match best;
        if (t + kHashBytes > target.size()) return best;
        Consider(t, preferred, &best);
        uint32_t q = head_[HashAt(&target[t])];
        for (int step = 0; step < kMaxChainSteps && q != kNoPosition; ++step, q = prev_[q]) {
            Consider(t, q, &best);
        }
        return best;
    }

  private:
    void Consider(uint64_t t, uint64_t q, Match* best) const {
        const Bytes& target = space_.target;
        uint64_t limit = target.size() - t;
        if (q < space_.inputSize()) {
            limit = std::min<uint64_t>(limit, space_.inputSize() - q);
        } else if (q - space_.inputSize() < t) {
            limit = std::min<uint64_t>(limit, t - (q - space_.inputSize()));
        } else {
            return;  // not written yet
        }
        if (q >= space_.inputSize() && !space_.reachOutput) return;
        uint64_t n = 0;
        while (n < limit && space_.At(q + n) == target[t + n]) ++n;
        if (n > best->length) *best = Match{q, n};
    }

    void Link(uint32_t hash, uint64_t q) {
        prev_[q] = head_[hash];
        head_[hash] = static_cast<uint32_t>(q);
    }

    uint32_t HashAt(const uint8_t* p) const {
        uint64_t key = LoadLe32(p) | (uint64_t{LoadLe32(p + 4)} << 32);
        return static_cast<uint32_t>((key * 0x9E3779B97F4A7C15ull) >> (64 - hashBits_));
    }

    const SourceSpace& space_;
    const uint32_t hashBits_;
    std::vector<uint32_t> head_;
    std::vector<uint32_t> prev_;
};

// Appends bytes and bits in the order the decoder consumes them.
class BlockSink {
  public:
    BlockSink(DeltaVariant* variant, int64_t bound) : v_(variant), bound_(bound) {}

    void CommandByte(uint8_t b) { v_->blocks[kCommandBlock].push_back(b); }

    void Bit(int block, bool bit) {
        int& index = block == kBitStreamB ? indexB_ : indexC_;
        Bytes& bytes = v_->blocks[block];
        if (index == 0) bytes.push_back(0);
        if (bit) bytes.back() |= static_cast<uint8_t>(1u << index);
        index = (index + 1) & 7;
    }

    // Byte 0 always; each further byte only when the bound lets the decoder ask
    // for it (presence bit in B, then C, then C); the sign bit in B last.
    void PackedInteger(int64_t value) {
        uint64_t magnitude = value < 0 ? static_cast<uint64_t>(-value) : value;
        CommandByte(static_cast<uint8_t>(magnitude));
        static const struct {
            int64_t bound;
            int stream;
        } kMoreBytes[] = {{255, kBitStreamB}, {65535, kBitStreamC}, {16777215, kBitStreamC}};
        for (int i = 0; i < 3 && bound_ > kMoreBytes[i].bound; ++i) {
            bool more = (magnitude >> (8 * (i + 1))) != 0;
            Bit(kMoreBytes[i].stream, more);
            if (!more) break;
            CommandByte(static_cast<uint8_t>(magnitude >> (8 * (i + 1))));
        }
        Bit(kBitStreamB, value < 0);
    }

    void Append(int block, const uint8_t* bytes, size_t count) {
        v_->blocks[block].insert(v_->blocks[block].end(), bytes, bytes + count);
    }

  private:
    DeltaVariant* v_;
    int64_t bound_;
    int indexB_ = 0;
    int indexC_ = 0;
};

// One command of the parse; replayed into blocks once the bound is known.
struct Command {
    enum Kind { kCopy, kInsert } kind;
    uint64_t position;  // copy: source position; insert: target start
    uint64_t length;
    uint32_t diffLength;    // copy: diff bytes that follow it
    bool setsDiffLength;    // copy: the group starts here and reads a new length
    uint64_t targetAt;      // copy: target position of the copied bytes
    uint64_t insertSource;  // insert: source position that chunk 0 may add to
};

class Parser {
  public:
    Parser(const SourceSpace& space, uint16_t groupSize, uint8_t chunkSize, bool addDiffs)
        : space_(space),
          finder_(space),
          groupSize_(groupSize),
          chunkSize_(chunkSize),
          addDiffs_(addDiffs) {}

    void Run() {
        const uint64_t targetSize = space_.target.size();
        while (t_ < targetSize) {
            Match m = finder_.Find(t_, copyEnd_ + diffLength_ + (t_ - insertStart_));
            if (m.length >= kMinMatch && TryCopy(m)) continue;
            Advance(1);
        }
        FlushInsert();
    }

    const std::vector<Command>& commands() const { return commands_; }
    bool usedOutput() const { return usedOutput_; }

  private:
    void Advance(uint64_t count) {
        for (uint64_t end = t_ + count; t_ < end; ++t_) finder_.AddOutput(t_);
    }

    // The longest copy of at most m.length bytes that leaves room for `diff`
    // diff bytes the decoder can read behind it; 0 when none fits.
    uint64_t FitCopy(const Match& m, uint32_t diff) const {
        const uint64_t targetLeft = space_.target.size() - t_;
        if (targetLeft <= diff) return 0;
        uint64_t n = std::min<uint64_t>(m.length, targetLeft - diff);
        if (!addDiffs_ || diff == 0) return n;
        if (m.position < space_.inputSize()) {
            uint64_t room = space_.inputSize() - m.position;
            return room > diff ? std::min<uint64_t>(n, room - diff) : 0;
        }
        // Reading from the output: the diff's source must already be written.
        return space_.Readable(m.position + n, diff, t_ + n) ? n : 0;
    }

    // At a group start: the mismatch length behind this copy after which the
    // source matches again, so diff bytes bridge it; 0 when there is none.
    uint32_t WantedGap(const Match& m) const {
        const uint64_t end = t_ + m.length;
        for (uint32_t k = 1; k <= kMaxDiffGap; ++k) {
            if (end + k + kResumeLength > space_.target.size()) break;
            if (FitCopy(m, k) != m.length) break;
            uint64_t resume = m.position + m.length + k;
            if (!space_.Readable(resume, kResumeLength, end)) break;
            bool matches = true;
            for (uint32_t i = 0; i < kResumeLength && matches; ++i) {
                matches = space_.At(resume + i) == space_.target[end + k + i];
            }
            if (matches) return k;
        }
        return 0;
    }

    bool TryCopy(const Match& m) {
        const bool newGroup = groupCounter_ == 0;
        const uint32_t diff = newGroup ? WantedGap(m) : diffLength_;
        const uint64_t n = FitCopy(m, diff);
        if (n == 0) return false;
        FlushInsert();
        if (newGroup) {
            diffLength_ = diff;
            groupCounter_ = groupSize_;
        }
        --groupCounter_;
        commands_.push_back(Command{Command::kCopy, m.position, n, diff, newGroup, t_, 0});
        if (m.position >= space_.inputSize()) usedOutput_ = true;
        if (addDiffs_ && diff > 0 && m.position + n >= space_.inputSize()) usedOutput_ = true;
        copyEnd_ = m.position + n;
        Advance(n + diff);
        insertStart_ = t_;
        return true;
    }

    // Pending target bytes become one insert command; its chunks may add to
    // the source bytes behind the last copy and its diff bytes.
    void FlushInsert() {
        if (insertStart_ >= t_) {
            insertStart_ = t_;
            return;
        }
        uint64_t q = copyEnd_ + diffLength_;
        commands_.push_back(
            Command{Command::kInsert, insertStart_, t_ - insertStart_, 0, false, 0, q});
        if (q + (t_ - insertStart_) > space_.inputSize()) usedOutput_ |= space_.reachOutput;
        insertStart_ = t_;
    }

    const SourceSpace& space_;
    MatchFinder finder_;
    const uint16_t groupSize_;
    const uint8_t chunkSize_;
    const bool addDiffs_;
    std::vector<Command> commands_;
    uint64_t t_ = 0;
    uint64_t insertStart_ = 0;
    uint64_t copyEnd_ = 0;  // copy base + last copy length
    uint32_t diffLength_ = 0;
    int64_t groupCounter_ = 0;
    bool usedOutput_ = false;
};

void EmitCopy(const Command& c, const SourceSpace& space, bool addDiffs, uint64_t* copyEnd,
              BlockSink* sink) {
    sink->PackedInteger(static_cast<int64_t>(c.length));
    sink->PackedInteger(static_cast<int64_t>(c.position) - static_cast<int64_t>(*copyEnd));
    if (c.setsDiffLength) sink->CommandByte(static_cast<uint8_t>(c.diffLength));
    *copyEnd = c.position + c.length;
    for (uint32_t i = 0; i < c.diffLength; ++i) {
        uint8_t b = space.target[c.targetAt + c.length + i];
        if (addDiffs) b = static_cast<uint8_t>(b - space.At(*copyEnd + i));
        sink->Append(kDiffBlock, &b, 1);
    }
}

// Each chunk is stored as a difference from the source bytes the decoder would
// add, when it can read them and that gives more zero bytes; else unchanged.
void EmitInsert(const Command& c, const SourceSpace& space, uint8_t chunkSize, BlockSink* sink) {
    sink->PackedInteger(-static_cast<int64_t>(c.length));
    uint8_t diff[2 * 255];
    for (uint64_t i = 0; i < c.length;) {
        uint64_t left = c.length - i;
        uint32_t piece = static_cast<uint32_t>(left < 2u * chunkSize ? left : chunkSize);
        const uint8_t* raw = &space.target[c.position + i];
        uint64_t q = c.insertSource + i;
        bool unchanged = true;
        if (space.Readable(q, piece, c.position + i)) {
            int rawZeros = 0, diffZeros = 0;
            for (uint32_t k = 0; k < piece; ++k) {
                diff[k] = static_cast<uint8_t>(raw[k] - space.At(q + k));
                rawZeros += raw[k] == 0;
                diffZeros += diff[k] == 0;
            }
            unchanged = diffZeros <= rawZeros;
        }
        sink->Append(kInsertBlock, unchanged ? raw : diff, piece);
        sink->Bit(kBitStreamC, unchanged);
        i += piece;
    }
}

}  // namespace

DeltaVariant EncodeDelta(const Bytes& source, const Bytes& target, const EncodeOptions& options) {
    DeltaVariant v;
    v.header.sourceCrc = CrcOfBuffer(source.data(), source.size(), kCrcStart);
    v.header.sourceSize = static_cast<uint32_t>(source.size());
    v.header.groupSize = options.groupSize ? options.groupSize : kDefaultGroupSize;
    v.header.chunkSize = options.chunkSize ? options.chunkSize : kDefaultChunkSize;
    const bool addDiffs = !options.rawDiffs;
    if (!addDiffs) v.header.deltaFlags |= kRawDiffs;

    // Reaching into the output doubles the bound, which must stay a positive int32.
    const bool reach =
        options.allowReachOutput && uint64_t{source.size()} + target.size() <= kBoundLimit;
    SourceSpace space{source, target, reach};
    Parser parser(space, v.header.groupSize, v.header.chunkSize, addDiffs);
    parser.Run();
    if (parser.usedOutput()) v.header.deltaFlags |= kReachOutput;

    BlockSink sink(&v, DeltaBound(v.header, static_cast<uint32_t>(target.size())));
    uint64_t copyEnd = 0;
    for (const Command& c : parser.commands()) {
        if (c.kind == Command::kCopy) {
            EmitCopy(c, space, addDiffs, &copyEnd, &sink);
        } else {
            EmitInsert(c, space, v.header.chunkSize, &sink);
        }
    }
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        v.header.blockLength[b] = static_cast<uint32_t>(v.blocks[b].size());
    }
    return v;
}

bool VerifyDelta(const DeltaVariant& variant, const Bytes& source, const Bytes& target) {
    if (source.size() > UINT32_MAX || target.size() > UINT32_MAX) return false;
    // The header as the writer stores it: block lengths come from the blocks.
    VariantHeader header = variant.header;
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        if (variant.blocks[b].size() > UINT32_MAX) return false;
        header.blockLength[b] = static_cast<uint32_t>(variant.blocks[b].size());
    }
    if (header.sourceSize != source.size()) return false;
    MemoryStepIo io(variant.blocks, source);
    DeltaStepOutcome outcome = ReconstructStep(header, static_cast<uint32_t>(target.size()), io);
    return outcome.result == kOk && io.output() == target &&
           outcome.outputCrc == CrcOfBuffer(target.data(), target.size(), kCrcStart) &&
           outcome.outputSize == target.size();
}
