#include "builder/lib/delta_encoder.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <iterator>
#include <new>

#include "builder/lib/block_match.h"
#include "builder/lib/delta_serializer.h"
#include "builder/lib/memory_step_io.h"
#include "builder/lib/parallel.h"
#include "core/crc.h"
#include "core/delta_decoder.h"
#include "core/result_codes.h"

namespace {

constexpr size_t kDeflateWindow = 32 * 1024;

// Reaching into the output only pays when the target can repeat itself
// beyond what deflate's own window already finds.
constexpr size_t kReachMinTarget = 32 * 1024;
constexpr size_t kReachInsertShare = 4;

// Layouts tried for every file: fixed diff lengths over one long group,
// diff lengths chosen per group of a few sizes, and a diff length per copy
// that covers its cluster of mismatches (executables, where a changed
// address rewrites a few bytes here and there).
// The first gain is the only one scanned where the delta is large
// (executables); there a new alignment that beats the current one by a few
// more bytes than the default leaves fewer, longer copies.
constexpr int32_t kLargeDeltaMinGain = 11;
const std::vector<int32_t> kMinGains = {kLargeDeltaMinGain, kDefaultMinGain, 4};
constexpr size_t kRescanShare = 64;

// Bytes a delta of these spans will hold at least: the literal stretches,
// the mismatches inside alignments, and a few command bytes per span.
size_t EstimatedDeltaBytes(const MatchText& text, const std::vector<DeltaSpan>& spans) {
    constexpr size_t kSpanBytes = 4;
    const Bytes& source = *text.source;
    const Bytes& target = *text.target;
    size_t n = spans.size() * kSpanBytes;
    for (const DeltaSpan& span : spans) {
        if (!span.aligned) {
            n += span.length;
            continue;
        }
        for (uint32_t i = 0; i < span.length; ++i) {
            size_t at = static_cast<size_t>(span.srcPos) + i;
            uint8_t old = at < source.size() ? source[at] : target[at - source.size()];
            n += old != target[span.outPos + i];
        }
    }
    return n;
}

// Short exact runs travel inside inserts added to their alignment in one
// layout: text whose alignments break every few characters (an encoded
// blob rebuilt) pays less for zeros among the differences than for a copy
// and an insert at every break.
constexpr uint32_t kTextMinCopy = 6;

const SerializeParams kLayouts[] = {
    {65535, 0, 255, 2, false},
    {65535, 0, 255, kTextMinCopy, false},
    {65535, 2, 255, 2, false},
    {65535, 4, 255, 2, false},
    {16, kAdaptiveDiffLength, 255, 2, false},
    {64, kAdaptiveDiffLength, 255, 2, false},
    {1, kClusterDiffLength, 255, 1, false, 1, {3, 6, 255}},
    {1, kClusterDiffLength, 255, 1, false, 1, {2, 0, 0}},
    {1, kClusterDiffLength, 1, 1, false, 1, {3, 6, 255}, 2},
};

// Where the time of a large file's first pass goes, roughly (profiled on
// files of tens of MB): the suffix sort, then the scan; the layout trials
// take the rest.
constexpr double kSortShare = 0.4;
constexpr double kScanShare = 0.1;
// Searched by blocks, the scan takes most of the time; the trials decode the
// whole target.
constexpr double kBlockScanShare = 0.6;

}  // namespace

size_t DeflatedSizeAfter(const Bytes* context, const Bytes& data) {
    z_stream zs{};
    if (data.size() > UINT32_MAX ||
        deflateInit2(&zs, kTrialDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return data.size();
    }
    if (context != nullptr && !context->empty()) {
        size_t window = std::min<size_t>(context->size(), kDeflateWindow);
        deflateSetDictionary(&zs, context->data() + context->size() - window,
                             static_cast<uInt>(window));
    }
    // Only the count matters: the output goes round one scratch buffer.
    uint8_t scratch[16384];
    size_t produced = 0;
    zs.next_in = const_cast<Bytef*>(data.data());
    zs.avail_in = static_cast<uInt>(data.size());
    int status = Z_OK;
    while (status == Z_OK) {
        zs.next_out = scratch;
        zs.avail_out = sizeof scratch;
        status = deflate(&zs, Z_FINISH);
        produced += sizeof scratch - zs.avail_out;
    }
    deflateEnd(&zs);
    return status == Z_STREAM_END ? produced : data.size();
}

size_t CompressedDeltaSize(const DeltaVariant& v, const Bytes* context) {
    Bytes all;
    for (const Bytes& b : v.blocks) all.insert(all.end(), b.begin(), b.end());
    return DeflatedSizeAfter(context, all);
}

namespace {

// The layout every target has: one insert of raw chunks.
DeltaVariant InsertOnly(const Bytes& source, const Bytes& target, const SerializeParams& params) {
    MatchText text{&source, &target, false};
    std::vector<DeltaSpan> spans;
    if (!target.empty())
        spans.push_back(DeltaSpan{0, static_cast<uint32_t>(target.size()), false, 0});
    DeltaVariant v;
    SerializeDelta(text, spans, params, &v);
    return v;
}

// One layout's candidate and its compressed size.
struct Trial {
    DeltaVariant variant;
    size_t size = SIZE_MAX;
};

Trial TryLayout(const SerializeParams& layout, const EncodeOptions& options, const MatchText& text,
                const std::vector<DeltaSpan>& spans) {
    SerializeParams params = layout;
    if (options.groupSize != 0) params.groupSize = options.groupSize;
    if (options.chunkSize != 0) params.chunkSize = options.chunkSize;
    params.rawDiffs = options.rawDiffs;
    // Stride inserts read the output: the step reaches into it.
    MatchText layoutText = text;
    if (params.stride != 0) layoutText.reachOutput = options.allowReachOutput;
    Trial trial;
    SerializeDelta(layoutText, spans, params, &trial.variant);
    trial.size = CompressedDeltaSize(trial.variant, options.context);
    return trial;
}

// Layouts for files searched by blocks: their spans hold few scattered
// differences, so the plain and the per-group diff lengths cover them.
const SerializeParams kBlockLayouts[] = {
    {65535, 0, 255, 2, false},
    {16, kAdaptiveDiffLength, 255, 2, false},
};

// Files past the suffix search's memory: spans from the block index, a few
// layouts, no reaching into the output (its positions could pass 4 GiB)
// and no insert-only baseline ranked beside them (it would hold the whole
// target again); that layout is the fallback only.
constexpr uint64_t kBlockLiteralShare = 8;

bool EncodeByBlocks(const Bytes& source, const Bytes& target, const EncodeOptions& options,
                    DeltaVariant* variant, std::string* error) {
    // Pieces are scanned on several threads: each tells the bytes it adds.
    std::atomic<uint64_t> scanned{0};
    const std::function<void(uint32_t, uint32_t)> onScan = [&](uint32_t more, uint32_t size) {
        const uint64_t now = scanned += more;
        if (options.onShare != nullptr)
            (*options.onShare)(kBlockScanShare * static_cast<double>(now) / (size == 0 ? 1 : size));
    };
    MatchText text{&source, &target, false, options.onShare != nullptr ? &onScan : nullptr};
    const uint32_t blockLength =
        options.blockLength != 0 ? options.blockLength : BlockLengthFor(source.size());
    const std::vector<DeltaSpan> spans =
        FindBlockMatches(text, blockLength, options.threads,
                         options.scanPiece != 0 ? options.scanPiece : kScanPiece);
    if (options.onShare != nullptr) (*options.onShare)(kBlockScanShare);
    // Each trial holds its blocks, and inserts hold the new bytes: where
    // much of the target is new, one layout only.
    uint64_t literal = 0;
    for (const DeltaSpan& span : spans) literal += span.aligned ? 0 : span.length;
    const size_t layouts =
        literal * kBlockLiteralShare > target.size() ? 1 : std::size(kBlockLayouts);
    std::vector<Trial> trials(layouts);
    const std::function<void(size_t)> trial = [&](size_t t) {
        trials[t] = TryLayout(kBlockLayouts[t], options, text, spans);
    };
    ParallelFor(trials.size(), options.threads, trial, nullptr);
    size_t best = trials.size();
    for (size_t t = 0; t < trials.size(); ++t) {
        if ((best == trials.size() || trials[t].size < trials[best].size) &&
            DeltaReproduces(trials[t].variant, source, target)) {
            best = t;
        }
    }
    DeltaVariant chosen;
    if (best < trials.size()) {
        chosen = std::move(trials[best].variant);
    } else {
        trials.clear();
        SerializeParams knobs;
        if (options.chunkSize != 0) knobs.chunkSize = options.chunkSize;
        chosen = InsertOnly(source, target, knobs);
        if (!DeltaReproduces(chosen, source, target)) {
            *error = "the delta does not decode to the new file";
            return false;
        }
    }
    chosen.header.sourceCrc = CrcOfBuffer(source.data(), source.size(), kCrcStart);
    *variant = std::move(chosen);
    return true;
}

// The smallest candidate so far, against the layout every target has (one
// insert of raw chunks). That layout is compressed only when a comparison
// needs it: a candidate below the least any deflate of the target can take
// beats it unseen, so a file that changed little never compresses its whole
// target once more.
class BestDelta {
  public:
    BestDelta(const Bytes& source, const Bytes& target, const SerializeParams& knobs,
              const Bytes* context)
        : source_(source),
          target_(target),
          knobs_(knobs),
          context_(context),
          bound_(DeflatedSizeLowerBound(target.size())) {}

    // True when a candidate of this size is smaller than the best so far.
    bool Beaten(size_t size) {
        if (size >= size_) return false;
        if (insertOnlyKnown_ || size < bound_) return true;
        AddInsertOnly();
        return size < size_;
    }

    void Take(DeltaVariant variant, size_t size) {
        variant_ = std::move(variant);
        size_ = size;
        taken_ = true;
    }

    DeltaVariant& variant() {
        AddInsertOnly();
        return variant_;
    }

  private:
    // Anything taken before is below the bound, so smaller.
    void AddInsertOnly() {
        if (insertOnlyKnown_) return;
        insertOnlyKnown_ = true;
        if (taken_) return;
        variant_ = InsertOnly(source_, target_, knobs_);
        size_ = CompressedDeltaSize(variant_, context_);
    }

    const Bytes& source_;
    const Bytes& target_;
    const SerializeParams knobs_;
    const Bytes* context_;
    const size_t bound_;
    DeltaVariant variant_;
    size_t size_ = SIZE_MAX;
    bool taken_ = false;
    bool insertOnlyKnown_ = false;
};

bool Encode(const Bytes& source, const Bytes& target, const EncodeOptions& options,
            bool reachAnyTarget, DeltaVariant* variant, std::string* error) {
    if (source.size() > kMaxDeltaFileSize || target.size() > kMaxDeltaFileSize) {
        *error = "file of 4 GiB or more";
        return false;
    }
    if (source.size() + target.size() > options.suffixSearchLimit)
        return EncodeByBlocks(source, target, options, variant, error);
    SerializeParams knobs;
    if (options.groupSize != 0) knobs.groupSize = options.groupSize;
    if (options.chunkSize != 0) knobs.chunkSize = options.chunkSize;
    BestDelta best(source, target, knobs, options.context);
    // Only the first pass reports: later ones are shorter and optional.
    bool firstPass = true;
    const auto tell = [&](double share) {
        if (firstPass && options.onShare != nullptr) (*options.onShare)(share);
    };
    const std::function<void(uint32_t, uint32_t)> onScan = [&](uint32_t scanned, uint32_t size) {
        tell(kSortShare + kScanShare * scanned / (size == 0 ? 1 : size));
    };
    const unsigned threads = options.threads < 1 ? 1 : options.threads;
    bool reachModes[] = {false, true};
    for (bool reach : reachModes) {
        // Searching the output as well costs far more; it is tried only when
        // the source leaves much of the target to literal inserts.
        if (reach && (!options.allowReachOutput ||
                      (!reachAnyTarget && (target.size() < kReachMinTarget ||
                                           best.variant().blocks[kInsertBlock].size() <
                                               target.size() / kReachInsertShare)))) {
            continue;
        }
        MatchText text{&source, &target, reach, options.onShare != nullptr ? &onScan : nullptr};
        // The other gains rescan the whole target: worth it where the delta
        // will be small beside the target, so scans are quick and a few bytes
        // count. All scans end before the trials, which then do not share
        // the memory with the suffix array.
        std::vector<std::vector<DeltaSpan>> spansByGain;
        FindMatchesEach(text, kMinGains, [&](std::vector<DeltaSpan> spans) {
            bool small = EstimatedDeltaBytes(text, spans) * kRescanShare <= target.size();
            spansByGain.push_back(std::move(spans));
            return small;
        });
        // The first gain tries every layout; the others only the layout
        // that won so far. Layouts are tried `threads` at a time and ranked
        // in their fixed order, so the winner does not depend on the count.
        const SerializeParams* winner = nullptr;
        for (size_t g = 0; g < spansByGain.size(); ++g) {
            std::vector<const SerializeParams*> layouts;
            for (const SerializeParams& layout : kLayouts) {
                if (g == 0 || &layout == winner) layouts.push_back(&layout);
            }
            const SerializeParams* found = nullptr;
            for (size_t from = 0; from < layouts.size(); from += threads) {
                const size_t count = std::min<size_t>(threads, layouts.size() - from);
                std::vector<Trial> trials(count);
                const std::function<void(size_t)> trial = [&](size_t t) {
                    trials[t] = TryLayout(*layouts[from + t], options, text, spansByGain[g]);
                };
                ParallelFor(count, threads, trial, nullptr);
                for (size_t t = 0; t < count; ++t) {
                    if (best.Beaten(trials[t].size) &&
                        DeltaReproduces(trials[t].variant, source, target)) {
                        best.Take(std::move(trials[t].variant), trials[t].size);
                        found = layouts[from + t];
                    }
                }
                if (g == 0) {
                    tell(kSortShare + kScanShare +
                         (1 - kSortShare - kScanShare) * static_cast<double>(from + count) /
                             static_cast<double>(layouts.size()));
                }
            }
            if (found != nullptr) winner = found;
            if (winner == nullptr) break;
        }
        firstPass = false;
    }
    DeltaVariant& chosen = best.variant();
    if (!DeltaReproduces(chosen, source, target)) {
        *error = "the delta does not decode to the new file";
        return false;
    }
    chosen.header.sourceCrc = CrcOfBuffer(source.data(), source.size(), kCrcStart);
    *variant = std::move(chosen);
    return true;
}

}  // namespace

bool EncodeSmallestDelta(const Bytes& source, const Bytes& target, const EncodeOptions& options,
                         DeltaVariant* variant, std::string* error) {
    // The search holds several arrays the size of both files: a 32-bit
    // builder runs out of room on files of some tens of MiB.
    try {
        return Encode(source, target, options, false, variant, error);
    } catch (const std::bad_alloc&) {
        *error = "not enough memory to compare the versions of this file";
        return false;
    }
}

DeltaVariant EncodeDelta(const Bytes& source, const Bytes& target, const EncodeOptions& options) {
    DeltaVariant variant;
    std::string error;
    Encode(source, target, options, true, &variant, &error);
    return variant;
}

bool DeltaReproduces(const DeltaVariant& variant, const Bytes& source, const Bytes& target) {
    if (source.size() > UINT32_MAX || target.size() > UINT32_MAX) return false;
    if (variant.header.sourceSize != source.size()) return false;
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        if (variant.header.blockLength[b] != variant.blocks[b].size()) return false;
    }
    CheckingStepIo io(MemoryStepIo(variant.blocks, source), target);
    DeltaStepOutcome outcome =
        ReconstructStep(variant.header, static_cast<uint32_t>(target.size()), io);
    // Equal bytes have equal CRC values: the step's own register needs no
    // second pass over the target.
    return outcome.result == kOk && io.same() && io.written() == target.size() &&
           outcome.outputSize == target.size();
}
