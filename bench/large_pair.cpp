// Writes an old and a new file for the large-file benchmarks: the old one a
// mix of text-like, random and zero stretches, the new one the old with
// scattered inserts, deletions, byte changes and blocks moved further on,
// about one edit of a few KiB per 1.5 MB.
//   large_pair SIZE OLD NEW [SEED]
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr uint64_t kStretch = 64 * 1024;
constexpr uint64_t kBytesPerEdit = 1500 * 1000;
constexpr uint64_t kMaxEdit = 8 * 1024;
constexpr uint64_t kMinMove = 64 * 1024, kMaxMove = 512 * 1024;

struct Random {
    uint64_t state;
    uint64_t Next() {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return state;
    }
    uint64_t Below(uint64_t n) { return Next() % n; }
};

const char* const kWords[] = {"patch",  "file",   "record", "version", "delta",  "block",  "copy",
                              "insert", "source", "target", "window",  "offset", "length", "the",
                              "of",     "and",    "to",     "a",       "in",     "is"};

void FillStretch(Random* rng, uint8_t* out, uint64_t n) {
    const uint64_t kind = rng->Below(10);
    if (kind < 2) {
        std::fill(out, out + n, 0);
    } else if (kind < 6) {
        for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(rng->Next() >> 24);
    } else {
        for (uint64_t i = 0; i < n;) {
            const char* w = kWords[rng->Below(sizeof kWords / sizeof *kWords)];
            for (; *w != 0 && i < n; ++w) out[i++] = static_cast<uint8_t>(*w);
            if (i < n) out[i++] = rng->Below(12) == 0 ? '\n' : ' ';
        }
    }
}

enum EditKind { kInsert, kDelete, kChange, kMove };

struct Edit {
    uint64_t at;
    EditKind kind;
    uint64_t length;
};

bool Write(std::FILE* f, const uint8_t* data, uint64_t n) {
    return n == 0 || std::fwrite(data, 1, n, f) == n;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: large_pair SIZE OLD NEW [SEED]\n");
        return 2;
    }
    const uint64_t size = std::strtoull(argv[1], nullptr, 10);
    Random rng{argc > 4 ? std::strtoull(argv[4], nullptr, 10) | 1 : 0x9E3779B97F4A7C15ull};
    std::vector<uint8_t> old(size);
    for (uint64_t at = 0; at < size; at += kStretch)
        FillStretch(&rng, old.data() + at, std::min(kStretch, size - at));

    std::vector<Edit> edits;
    for (uint64_t e = 0; e < size / kBytesPerEdit; ++e) {
        const EditKind kind = static_cast<EditKind>(rng.Below(4));
        const uint64_t length =
            kind == kMove ? kMinMove + rng.Below(kMaxMove - kMinMove) : 1 + rng.Below(kMaxEdit);
        edits.push_back(Edit{rng.Below(size), kind, length});
    }
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.at < b.at; });

    std::FILE* oldFile = std::fopen(argv[2], "wb");
    std::FILE* newFile = std::fopen(argv[3], "wb");
    if (oldFile == nullptr || newFile == nullptr || !Write(oldFile, old.data(), size) ||
        std::fclose(oldFile) != 0) {
        std::fprintf(stderr, "large_pair: cannot write the old file\n");
        return 1;
    }
    // A moved block is cut where its edit stands and put back at the next edit.
    bool ok = true;
    uint64_t at = 0;
    std::vector<uint8_t> scratch, moved;
    for (const Edit& e : edits) {
        if (e.at < at) continue;
        ok = ok && Write(newFile, old.data() + at, e.at - at);
        at = e.at;
        ok = ok && Write(newFile, moved.data(), moved.size());
        moved.clear();
        const uint64_t n = std::min(e.length, size - at);
        switch (e.kind) {
            case kInsert:
                scratch.resize(n);
                for (auto& b : scratch) b = static_cast<uint8_t>(rng.Next() >> 24);
                ok = ok && Write(newFile, scratch.data(), n);
                break;
            case kDelete:
                at += n;
                break;
            case kChange:
                scratch.assign(old.begin() + at, old.begin() + at + n);
                for (uint64_t i = 0; i < n; i += 1 + rng.Below(64)) scratch[i] ^= 0x5A;
                ok = ok && Write(newFile, scratch.data(), n);
                at += n;
                break;
            case kMove:
                moved.assign(old.begin() + at, old.begin() + at + n);
                at += n;
                break;
        }
    }
    ok = ok && Write(newFile, old.data() + at, size - at) &&
         Write(newFile, moved.data(), moved.size()) && std::fclose(newFile) == 0;
    if (!ok) {
        std::fprintf(stderr, "large_pair: cannot write the new file\n");
        return 1;
    }
    return 0;
}
