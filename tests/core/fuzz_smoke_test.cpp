// Bounded, deterministic fuzzing of the reader and the decoder on every build:
// mutated valid inputs through the same entry points as the libFuzzer targets,
// which abort when an invariant breaks.
#include <gtest/gtest.h>

#include <random>

#include "builder/lib/delta_encoder.h"
#include "core/result_codes.h"
#include "fuzz/fuzz_entries.h"
#include "tests/core/test_step_io.h"

namespace {

constexpr int kMutationsPerInput = 600;

// Byte values that steer the reader and decoder into their edge paths.
constexpr uint8_t kInteresting[] = {0,  1,    2,    3,    4,    5,    6,   20,
                                    21, 0x2E, 0x3A, 0x5C, 0x7F, 0x80, 0xFF};

Bytes Mutate(const Bytes& base, std::mt19937* rng) {
    Bytes b = base;
    int edits = 1 + (*rng)() % 4;
    for (int e = 0; e < edits; ++e) {
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

Bytes SampleStream() {
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
    RegistryScriptWriter script(0x80000002u, "Software\\X", "Path");
    script.OpenKey(0x80000002u, "Software\\X");
    script.SetValue("V", 1, BytesOf("1"));
    w.Registry(script.Finish());
    w.End();
    return w.bytes();
}

std::vector<Bytes> SampleDecoderInputs() {
    std::vector<Bytes> inputs;
    const struct {
        uint32_t seed;
        EncodeOptions options;
    } kSamples[] = {{3, {}}, {4, {2, 3, true, false}}, {5, {1, 1, true, true}}};
    for (const auto& s : kSamples) {
        Bytes source = RandomBytes(s.seed, 300, 4);
        Bytes target = source;
        target.insert(target.begin() + 100, source.begin(), source.begin() + 80);
        target[20] ^= 1;
        target.insert(target.end(), 30, 'x');
        DeltaVariant v = EncodeDelta(source, target, s.options);
        uint8_t header[kVariantHeaderSize];
        SerializeVariantHeader(v.header, header);
        inputs.push_back(
            DecoderFuzzInput(header, static_cast<uint32_t>(target.size()), source, v.blocks));
    }
    return inputs;
}

TEST(FuzzSmoke, RecordReaderSurvivesMutatedStreams) {
    std::mt19937 rng(2024);
    const Bytes base = SampleStream();
    FuzzRecordReader(base.data(), base.size());
    for (int i = 0; i < 4 * kMutationsPerInput; ++i) {
        Bytes input = Mutate(base, &rng);
        FuzzRecordReader(input.data(), input.size());
    }
}

TEST(FuzzSmoke, DecoderSurvivesMutatedSteps) {
    std::mt19937 rng(4711);
    for (const Bytes& base : SampleDecoderInputs()) {
        FuzzDeltaDecoder(base.data(), base.size());
        for (int i = 0; i < kMutationsPerInput; ++i) {
            Bytes input = Mutate(base, &rng);
            FuzzDeltaDecoder(input.data(), input.size());
        }
    }
}

// Every block cut short at every length: damage (1), an overlong output (12),
// or an output the final comparison rejects; never the target itself.
TEST(FuzzSmoke, EveryTruncatedBlockIsRejected) {
    Bytes source = RandomBytes(9, 2000, 4);
    Bytes target = source;
    target.insert(target.begin() + 500, source.begin() + 1500, source.end());
    for (int i = 0; i < 40; ++i) target[7 * i + 3] ^= 0x21;
    target.insert(target.begin() + 1000, 300, 'q');
    DeltaVariant v = EncodeDelta(source, target, EncodeOptions{2, 7, true, false});
    ASSERT_TRUE(VerifyDelta(v, source, target));
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        for (size_t length = 0; length < v.blocks[b].size(); ++length) {
            Bytes blocks[kDeltaBlockCount];
            for (int k = 0; k < kDeltaBlockCount; ++k) blocks[k] = v.blocks[k];
            blocks[b].resize(length);
            Bytes out;
            DeltaStepOutcome r =
                DecodeBlocks(v.header, blocks, source, static_cast<uint32_t>(target.size()), &out);
            ASSERT_TRUE(r.result == kPatchDamaged || r.result == kChecksumMismatch ||
                        (r.result == kOk && out != target))
                << "block " << b << " cut to " << length << " gave " << r.result;
        }
    }
}

}  // namespace
