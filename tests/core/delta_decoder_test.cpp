#include "core/delta_decoder.h"

#include <gtest/gtest.h>

#include <vector>

#include "core/crc.h"
#include "core/result_codes.h"
#include "tests/core/test_step_io.h"

namespace {

VariantHeader Header(uint16_t groupSize, uint8_t flags, uint8_t chunkSize) {
    VariantHeader h{};
    h.groupSize = groupSize;
    h.deltaFlags = flags;
    h.chunkSize = chunkSize;
    return h;
}

// Insert runs are cut into ChunkSize pieces with a longer last piece. Each
// piece takes one BitStreamC bit; alternating bits make the pieces visible in
// the output (unchanged zeros, then zeros plus the source's ones).
TEST(DeltaDecoder, InsertRunsAreCutIntoChunks) {
    const struct {
        uint8_t chunk;
        uint32_t run;
        std::vector<uint32_t> pieces;
    } kCases[] = {
        {20, 39, {39}},    {20, 40, {20, 20}},     {20, 45, {20, 25}},
        {20, 15, {15}},    {20, 60, {20, 20, 20}}, {20, 79, {20, 20, 39}},
        {1, 3, {1, 1, 1}}, {255, 509, {509}},      {255, 510, {255, 255}},
    };
    for (const auto& c : kCases) {
        const Bytes source(1024, 1);
        BlockBuilder b(1024);  // the bound: source size above every run
        b.Integer(-static_cast<int64_t>(c.run));
        b.Append(kInsertBlock, Bytes(c.run, 0));
        Bytes expected;
        for (size_t k = 0; k < c.pieces.size(); ++k) {
            b.Bit(kBitStreamC, k % 2 == 0);
            expected.insert(expected.end(), c.pieces[k], k % 2 == 0 ? 0 : 1);
        }
        Bytes out;
        DeltaStepOutcome r = DecodeBlocks(Header(1, 0, c.chunk), b.blocks, source, c.run, &out);
        EXPECT_EQ(r.result, kOk) << int(c.chunk) << "/" << c.run;
        EXPECT_EQ(out, expected) << int(c.chunk) << "/" << c.run;
    }
}

}  // namespace
