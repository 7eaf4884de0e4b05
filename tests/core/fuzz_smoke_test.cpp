// A bounded, deterministic run of the libFuzzer entry points on every build:
// each byte of a valid record stream and of a valid decoder input is set in
// turn to values that steer into edge paths, and every prefix is tried. The
// entry points abort when an invariant breaks.
#include <gtest/gtest.h>

#include "builder/lib/delta_encoder.h"
#include "fuzz/fuzz_entries.h"
#include "tests/core/test_bytes.h"

namespace {

TEST(FuzzSmoke, ReaderAndDecoderSurviveEditedInputs) {
    Bytes source = RandomBytes(3, 300, 4), target = source;
    target.insert(target.begin() + 100, source.begin(), source.begin() + 80);
    // Scattered changes and a fresh run: the delta fills all five blocks.
    for (size_t i = 20; i < 300; i += 37) target[i] ^= 1;
    const Bytes fresh = RandomBytes(4, 20);
    target.insert(target.begin() + 370, fresh.begin(), fresh.end());
    const DeltaVariant v = EncodeDelta(source, target, EncodeOptions{2, 3, true, false});
    ChangedFile file;
    file.fileName = "dir\\app.exe";
    file.header.fileFlags = kHasSkipRange;
    file.variants = {v};
    RecordStreamWriter w;
    w.Changed(file);
    w.NewFile("new.txt", BytesOf("hello"));
    w.Registry(RegistryScriptWriter(0x80000002u, "Software\\X", "Path").Finish());
    w.End();
    uint8_t header[kVariantHeaderSize];
    SerializeVariantHeader(v.header, header);
    const std::pair<void (*)(const uint8_t*, size_t), Bytes> kRuns[] = {
        {FuzzRecordReader, w.bytes()},
        {FuzzDeltaDecoder,
         DecoderFuzzInput(header, static_cast<uint32_t>(target.size()), source, v.blocks)}};
    for (const auto& [entry, base] : kRuns) {
        for (size_t at = 0; at < base.size(); ++at) {
            entry(base.data(), at);
            for (uint8_t value : {0, 1, 2, 20, 21, 0x2E, 0x3A, 0x5C, 0x80, 0xFF}) {
                Bytes input = base;
                input[at] = value;
                entry(input.data(), input.size());
            }
        }
    }
}

}  // namespace
