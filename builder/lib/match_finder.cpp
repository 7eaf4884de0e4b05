#include "builder/lib/match_finder.h"

#include <algorithm>
#include <cstring>

#include "builder/lib/suffix_array.h"

namespace {

// In reaching mode some suffix-array neighbours are not readable yet; this
// many on each side are tried before giving up.
constexpr int kNeighbourTries = 16;
// The search compares at most this many bytes of a suffix: suffixes that agree
// that far are all good matches, and comparing further made the search
// quadratic on long repeats (in reaching mode a target's own suffix agrees
// with it to the end).
constexpr uint32_t kCompareLimit = 4096;

struct Match {
    uint32_t pos = 0;
    uint32_t length = 0;
};

class Finder {
  public:
    explicit Finder(const MatchText& text) : text_(text) {
        sourceSize_ = static_cast<uint32_t>(text.source->size());
        if (text.reachOutput) {
            virtual_.reserve(text.source->size() + text.target->size());
            virtual_.insert(virtual_.end(), text.source->begin(), text.source->end());
            virtual_.insert(virtual_.end(), text.target->begin(), text.target->end());
            data_ = virtual_.data();
            size_ = static_cast<uint32_t>(virtual_.size());
        } else {
            data_ = text.source->data();
            size_ = sourceSize_;
        }
        sa_ = BuildSuffixArray(data_, static_cast<int32_t>(size_));
        target_ = text.target->data();
        targetSize_ = static_cast<uint32_t>(text.target->size());
    }

    std::vector<DeltaSpan> Run(int32_t minGain);

  private:
    uint32_t Readable(uint32_t srcPos, uint32_t outPos) const {
        return ReadableLength(text_, srcPos, outPos);
    }

    bool Equal(int64_t srcPos, uint32_t outPos) const {
        if (srcPos < 0 || Readable(static_cast<uint32_t>(srcPos), outPos) == 0) return false;
        return data_[srcPos] == target_[outPos];
    }

    uint32_t MatchLength(uint32_t srcPos, uint32_t outPos) const {
        uint32_t limit = std::min(Readable(srcPos, outPos), targetSize_ - outPos);
        uint32_t n = 0;
        while (n < limit && data_[srcPos + n] == target_[outPos + n]) ++n;
        return n;
    }

    // True when the suffix at srcPos sorts before the target suffix at outPos,
    // judged on their first kCompareLimit bytes.
    bool SuffixBefore(uint32_t srcPos, uint32_t outPos) const {
        uint32_t a = size_ - srcPos, b = targetSize_ - outPos;
        uint32_t n = std::min({a, b, kCompareLimit});
        int c = std::memcmp(data_ + srcPos, target_ + outPos, n);
        return c < 0 || (c == 0 && n < kCompareLimit && a < b);
    }

    Match Longest(uint32_t outPos) const {
        Match best;
        if (size_ == 0) return best;
        size_t lo = 0, hi = sa_.size();
        while (lo < hi) {
            size_t mid = lo + (hi - lo) / 2;
            if (SuffixBefore(static_cast<uint32_t>(sa_[mid]), outPos)) {
                lo = mid + 1;
            } else {
                hi = mid;
            }
        }
        // The best match sits next to the insertion point; readable limits may
        // push it a little further out, so look at a few neighbours.
        int tries = text_.reachOutput ? kNeighbourTries : 1;
        for (int side = 0; side < 2; ++side) {
            for (int k = 0; k < tries; ++k) {
                int64_t index =
                    side == 0 ? static_cast<int64_t>(lo) - 1 - k : static_cast<int64_t>(lo) + k;
                if (index < 0 || index >= static_cast<int64_t>(sa_.size())) break;
                uint32_t pos = static_cast<uint32_t>(sa_[index]);
                uint32_t length = MatchLength(pos, outPos);
                if (length > best.length ||
                    (length == best.length && length > 0 && pos < best.pos)) {
                    best.pos = pos;
                    best.length = length;
                }
            }
        }
        return best;
    }

    const MatchText& text_;
    std::vector<uint8_t> virtual_;
    const uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t sourceSize_ = 0;
    std::vector<int32_t> sa_;
    const uint8_t* target_ = nullptr;
    uint32_t targetSize_ = 0;
};

void AddSpan(std::vector<DeltaSpan>* spans, uint32_t outPos, uint32_t length, bool aligned,
             uint32_t srcPos) {
    if (length > 0) spans->push_back(DeltaSpan{outPos, length, aligned, srcPos});
}

// The scan follows the well-known approximate-match strategy: keep the
// current alignment while it explains the target about as well as the best
// exact match would, then extend the old alignment forward and the new one
// backward wherever more than half of the bytes agree.
std::vector<DeltaSpan> Finder::Run(int32_t minGain) {
    std::vector<DeltaSpan> spans;
    uint32_t scan = 0, lastScan = 0;
    int64_t lastPos = 0, lastOffset = 0;
    Match match;
    uint32_t nextReport = kScanReportStep;
    if (text_.onScan != nullptr) (*text_.onScan)(0, targetSize_);  // the sort is done
    while (scan < targetSize_) {
        if (text_.onScan != nullptr && scan >= nextReport) {
            (*text_.onScan)(scan, targetSize_);
            nextReport = scan + kScanReportStep;
        }
        int32_t oldScore = 0;
        scan += match.length;
        uint32_t scsc = scan;
        for (; scan < targetSize_; ++scan) {
            match = Longest(scan);
            for (; scsc < scan + match.length; ++scsc) {
                if (Equal(scsc + lastOffset, scsc)) ++oldScore;
            }
            int32_t length = static_cast<int32_t>(match.length);
            if ((length == oldScore && length != 0) || length > oldScore + minGain) break;
            if (Equal(scan + lastOffset, scan)) --oldScore;
        }
        if (static_cast<int32_t>(match.length) == oldScore && scan != targetSize_) continue;

        uint32_t forwardLimit = scan - lastScan;
        if (lastPos >= 0) {
            forwardLimit =
                std::min(forwardLimit, Readable(static_cast<uint32_t>(lastPos), lastScan));
        }
        int32_t s = 0, best = 0;
        uint32_t lenF = 0;
        for (uint32_t i = 0; i < forwardLimit;) {
            if (data_[lastPos + i] == target_[lastScan + i]) ++s;
            ++i;
            if (s * 2 - static_cast<int32_t>(i) > best * 2 - static_cast<int32_t>(lenF)) {
                best = s;
                lenF = i;
            }
        }
        uint32_t lenB = 0;
        if (scan < targetSize_) {
            // Backward extension stays on the same side of the source end.
            uint32_t floor = match.pos >= sourceSize_ ? match.pos - sourceSize_ : match.pos;
            int32_t sb = 0, bestB = 0;
            for (uint32_t i = 1; scan >= lastScan + i && i <= floor; ++i) {
                if (data_[match.pos - i] == target_[scan - i]) ++sb;
                if (sb * 2 - static_cast<int32_t>(i) > bestB * 2 - static_cast<int32_t>(lenB)) {
                    bestB = sb;
                    lenB = i;
                }
            }
        }
        if (lastScan + lenF > scan - lenB) {
            // The two extensions overlap: split where the bytes favour each side most.
            uint32_t overlap = (lastScan + lenF) - (scan - lenB);
            int32_t sv = 0, bestSplit = 0;
            uint32_t split = 0;
            for (uint32_t i = 0; i < overlap; ++i) {
                uint32_t at = scan - lenB + i;
                if (target_[at] == data_[lastPos + lenF - overlap + i]) ++sv;
                if (target_[at] == data_[match.pos - lenB + i]) --sv;
                if (sv > bestSplit) {
                    bestSplit = sv;
                    split = i + 1;
                }
            }
            lenF += split - overlap;
            lenB -= split;
        }
        AddSpan(&spans, lastScan, lenF, true, static_cast<uint32_t>(lastPos));
        AddSpan(&spans, lastScan + lenF, (scan - lenB) - (lastScan + lenF), false, 0);
        lastScan = scan - lenB;
        lastPos = static_cast<int64_t>(match.pos) - lenB;
        lastOffset = static_cast<int64_t>(match.pos) - scan;
    }
    return spans;
}

}  // namespace

uint64_t CommonPrefix(const uint8_t* a, const uint8_t* b, uint64_t limit) {
    uint64_t n = 0;
    for (; n + sizeof(uint64_t) <= limit; n += sizeof(uint64_t)) {
        uint64_t x = 0, y = 0;
        std::memcpy(&x, a + n, sizeof x);
        std::memcpy(&y, b + n, sizeof y);
        if (x != y) break;
    }
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

uint32_t ReadableLength(const MatchText& text, uint32_t srcPos, uint32_t outPos) {
    uint32_t sourceSize = static_cast<uint32_t>(text.source->size());
    if (srcPos < sourceSize) return sourceSize - srcPos;
    if (!text.reachOutput) return 0;
    uint32_t fromOutput = srcPos - sourceSize;
    return fromOutput < outPos ? outPos - fromOutput : 0;
}

std::vector<DeltaSpan> FindMatches(const MatchText& text) {
    std::vector<DeltaSpan> spans;
    FindMatchesEach(text, {kDefaultMinGain}, [&](std::vector<DeltaSpan> found) {
        spans = std::move(found);
        return false;
    });
    return spans;
}

void FindMatchesEach(const MatchText& text, const std::vector<int32_t>& minGains,
                     const std::function<bool(std::vector<DeltaSpan>)>& each) {
    if (text.target->empty()) {
        each({});
        return;
    }
    Finder finder(text);
    for (int32_t minGain : minGains) {
        if (!each(finder.Run(minGain))) return;
    }
}
