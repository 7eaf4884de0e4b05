// Bounded, deterministic fuzzing of the reader and the decoder on every build:
// mutated valid inputs through the same entry points as the libFuzzer targets,
// which abort when an invariant breaks.
#include <gtest/gtest.h>

#include "builder/lib/delta_encoder.h"
#include "fuzz/fuzz_entries.h"
#include "tests/core/test_bytes.h"

namespace {

constexpr int kMutationsPerInput = 600;

// Byte values that steer the reader and decoder into their edge paths.
constexpr uint8_t kInteresting[] = {0,  1,    2,    3,    4,    5,    6,   20,
                                    21, 0x2E, 0x3A, 0x5C, 0x7F, 0x80, 0xFF};

Bytes Mutate(const Bytes& base, std::mt19937* rng) {
    Bytes b = base;
    for (int edits = 1 + (*rng)() % 4; edits > 0; --edits) {
        size_t at = b.empty() ? 0 : (*rng)() % b.size();
        switch ((*rng)() % 5) {
            case 0:
                if (!b.empty()) b[at] ^= static_cast<uint8_t>(1u << ((*rng)() % 8));
                break;
            case 1:
                if (!b.empty()) b[at] = kInteresting[(*rng)() % sizeof kInteresting];
                break;
            case 2:
                b.resize(at);
                break;
            case 3:
                b.insert(b.begin() + at, static_cast<uint8_t>((*rng)()));
                break;
            default:
                if (!b.empty()) b.erase(b.begin() + at);
        }
    }
    return b;
}

// Each base input as it is, then mutated.
void Fuzz(void (*entry)(const uint8_t*, size_t), const Bytes& base, int mutations, uint32_t seed) {
    std::mt19937 rng(seed);
    entry(base.data(), base.size());
    for (int i = 0; i < mutations; ++i) {
        Bytes input = Mutate(base, &rng);
        entry(input.data(), input.size());
    }
}

TEST(FuzzSmoke, RecordReaderSurvivesMutatedStreams) {
    Bytes source = RandomBytes(1, 400, 8), target = RandomBytes(2, 300, 8);
    ChangedFile file;
    file.fileName = "dir\\app.exe";
    file.header.fileFlags = kHasSkipRange;
    file.variants = {EncodeDelta(source, target, EncodeOptions{}),
                     EncodeDelta(target, source, EncodeOptions{3, 4, true, true})};
    RecordStreamWriter w;
    w.Changed(file);
    w.NewFile("new.txt", BytesOf("hello"));
    w.Obsolete("old.dll");
    w.Registry(RegistryScriptWriter(0x80000002u, "Software\\X", "Path").Finish());
    w.End();
    Fuzz(FuzzRecordReader, w.bytes(), 4 * kMutationsPerInput, 2024);
}

TEST(FuzzSmoke, DecoderSurvivesMutatedSteps) {
    const EncodeOptions kOptions[] = {{}, {2, 3, true, false}, {1, 1, true, true}};
    for (uint32_t seed = 3; seed <= 5; ++seed) {
        Bytes source = RandomBytes(seed, 300, 4);
        Bytes target = source;
        target.insert(target.begin() + 100, source.begin(), source.begin() + 80);
        target[20] ^= 1;
        target.insert(target.end(), 30, 'x');
        DeltaVariant v = EncodeDelta(source, target, kOptions[seed - 3]);
        uint8_t header[kVariantHeaderSize];
        SerializeVariantHeader(v.header, header);
        Bytes base =
            DecoderFuzzInput(header, static_cast<uint32_t>(target.size()), source, v.blocks);
        Fuzz(FuzzDeltaDecoder, base, kMutationsPerInput, 4711 + seed);
    }
}

}  // namespace
