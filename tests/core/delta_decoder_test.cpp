#include "core/delta_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "builder/lib/delta_block_writer.h"
#include "builder/lib/memory_step_io.h"
#include "core/crc.h"
#include "core/result_codes.h"
#include "tests/core/test_bytes.h"

namespace {

// Memory I/O whose writes fail, as on a full disk.
struct FailingWrites : MemoryStepIo {
    using MemoryStepIo::MemoryStepIo;
    bool WriteOutput(const uint8_t*, uint32_t) override { return false; }
};

// Block lengths and the source size are taken from the arguments.
DeltaStepOutcome Decode(VariantHeader header, const Bytes* blocks, const Bytes& source,
                        uint32_t outputSize, Bytes* output, bool failWrites = false) {
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        header.blockLength[b] = static_cast<uint32_t>(blocks[b].size());
    }
    header.sourceSize = static_cast<uint32_t>(source.size());
    MemoryStepIo memory(blocks, source);
    FailingWrites failing(blocks, source);
    MemoryStepIo& io = failWrites ? failing : memory;
    DeltaStepOutcome outcome = ReconstructStep(header, outputSize, io);
    *output = io.output();
    return outcome;
}

VariantHeader Header(uint16_t groupSize, uint8_t flags, uint8_t chunkSize) {
    return VariantHeader{0, 0, {}, groupSize, flags, chunkSize};
}

// Hand-made steps with the result and output the format prescribes. Blocks are
// in stream order: commands, bit stream C, bit stream B, inserts, diffs. A
// refused write ends a step that writes anything as a full disk, and a step
// with any block cut short never passes for the whole one.
TEST(DeltaDecoder, HandMadeStepsGiveTheirResult) {
    const VariantHeader example = Header(1, 0, 4);
    const struct {
        const char* name;
        const char* source;
        VariantHeader header;
        Bytes blocks[kDeltaBlockCount];
        uint32_t outputSize;
        int result;
        const char* output;
    } kCases[] = {
        // clang-format off
        {"worked example", "ABCDEFGH", example,
         {{3, 0, 1, 2, 3, 3, 0}, {1}, {4}, {'x', 'y'}, {1}}, 8, kOk, "ABCExyGH"},
        {"raw diffs write the diff byte itself", "ABCDEFGH", Header(1, kRawDiffs, 4),
         {{3, 0, 1, 2, 3, 3, 0}, {1}, {4}, {'x', 'y'}, {'E'}}, 8, kOk, "ABCExyGH"},
        {"output beyond the step size", "ABCDEFGH", example,
         {{3, 0, 1, 2, 3, 3, 0}, {1}, {4}, {'x', 'y'}, {1}}, 7, kChecksumMismatch, "ABCExy"},
        {"diff-length byte missing", "ABCDEFGH", example,
         {{3, 0}, {}, {0}, {}, {}}, 8, kPatchDamaged, ""},
        {"diff block too short", "ABCDEFGH", example,
         {{3, 0, 2}, {}, {0}, {}, {1}}, 8, kPatchDamaged, "ABC"},
        // An insert could never advance with chunk size 0.
        {"chunk size 0 with an insert", "ABCDEFGH", Header(1, 0, 0),
         {{2}, {1}, {1}, {'x', 'y'}, {}}, 8, kPatchDamaged, ""},
        {"copy before the source start", "ABCDEFGH", example,
         {{2, 1, 0}, {}, {2}, {}, {}}, 8, kPatchDamaged, ""},
        {"copy past the source end writes what exists", "ABCD", Header(0, 0, 4),
         {{6, 2, 0}, {}, {0}, {}, {}}, 8, kOk, "CD"},
        {"source bytes missing for an addition", "ABCD", example,
         {{3, 0, 2}, {}, {0}, {}, {1, 1}}, 8, kPatchDamaged, "ABC"},
        {"diff length 0 copies only", "ABCDEFGH", Header(2, 0, 4),
         {{2, 0, 0, 2, 2}, {}, {0}, {}, {}}, 8, kOk, "ABEF"},
        {"command bytes ending inside a command", "ABCDEFGH", example,
         {{2, 0, 3}, {}, {0}, {}, {1, 1, 1}}, 8, kOk, "ABDEF"},
        {"empty step", "ABCD", example, {}, 0, kOk, ""},
        // A zero command while the group counter is 0 drives it to -1: the diff
        // length read first ('c' + 1) stays in force for the rest of the step.
        {"zero command at group end freezes the diff length", "abcdefghij", example,
         {{2, 0, 1, 0, 2, 1, 2, 1}, {}, {0}, {}, {1, 1, 0}}, 10, kOk, "abddegghi"},
        // With ReachOutput, positions from the source size on read the output
        // written so far, for copies and for insert chunks added to them.
        {"positions past the source read the output", "xyz", Header(0, kReachOutput, 4),
         {{3, 0, 0, 3, 0, 3}, {0}, {0x10}, {1, 1, 1}, {}}, 9, kOk, "xyzxyzyz{"},
        // clang-format on
    };
    for (const auto& c : kCases) {
        Bytes out;
        DeltaStepOutcome r = Decode(c.header, c.blocks, BytesOf(c.source), c.outputSize, &out);
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(out, BytesOf(c.output)) << c.name;
        EXPECT_EQ(r.outputSize, out.size()) << c.name;
        EXPECT_EQ(r.outputCrc, CrcOfBuffer(out.data(), out.size(), kCrcStart)) << c.name;
        if (c.result != kOk || !*c.output) continue;
        r = Decode(c.header, c.blocks, BytesOf(c.source), c.outputSize, &out, true);
        EXPECT_EQ(r.result, kDiskFull) << c.name;
        for (int b = 0; b < kDeltaBlockCount; ++b) {
            for (size_t length = 0; length < c.blocks[b].size(); ++length) {
                Bytes cut[kDeltaBlockCount];
                std::copy_n(c.blocks, kDeltaBlockCount, cut);
                cut[b].resize(length);
                r = Decode(c.header, cut, BytesOf(c.source), c.outputSize, &out);
                EXPECT_TRUE(r.result != kOk || out != BytesOf(c.output))
                    << c.name << ": block " << b << " cut to " << length;
            }
        }
    }
}

// Insert runs are cut into ChunkSize pieces with a longer last piece. Each
// piece takes one bit of stream C; alternating bits make the pieces visible in
// the output (unchanged zeros, then zeros plus the source's ones).
TEST(DeltaDecoder, InsertRunsAreCutIntoChunks) {
    const std::tuple<uint8_t, uint32_t, std::vector<uint32_t>> kCases[] = {
        {20, 39, {39}},    {20, 40, {20, 20}}, {20, 79, {20, 20, 39}},
        {1, 3, {1, 1, 1}}, {255, 509, {509}},  {255, 510, {255, 255}},
    };
    const Bytes source(1024, 1);
    for (const auto& [chunk, length, pieces] : kCases) {
        DeltaBlockWriter w(source.size());  // the bound: above every run
        w.PackedInteger(-static_cast<int64_t>(length));
        const Bytes zeros(length, 0);
        w.InsertBytes(zeros.data(), length);
        Bytes expected, out;
        for (size_t k = 0; k < pieces.size(); ++k) {
            w.BitC(k % 2 == 0);
            expected.insert(expected.end(), pieces[k], k % 2 == 0 ? 0 : 1);
        }
        DeltaStepOutcome r = Decode(Header(1, 0, chunk), w.blocks(), source, length, &out);
        EXPECT_EQ(r.result, kOk) << int(chunk) << "/" << length;
        EXPECT_EQ(out, expected) << int(chunk) << "/" << length;
    }
}

// Each integer gets a further byte only when the bound exceeds 255, 65535 or
// 16777215. V = the bound itself needs every byte the bound allows; blocks
// packed for one side of a threshold must not decode on the other side.
TEST(DeltaDecoder, BoundDecidesHowManyIntegerBytesAreAsked) {
    const std::tuple<uint32_t, uint32_t, size_t> kCases[] = {
        {255, 256, 1 + 1 + 1 + 1 + 1},           {256, 255, 2 + 1 + 1 + 1 + 2},
        {65535, 65536, 2 + 1 + 1 + 1 + 2},       {65536, 65535, 3 + 1 + 1 + 1 + 3},
        {16777215, 16777216, 3 + 1 + 1 + 1 + 3}, {16777216, 16777215, 4 + 1 + 1 + 1 + 4},
        {0x80000000u, 255, 4 + 1 + 1 + 1 + 4},  // 2 GiB and more: still four bytes
    };
    for (const auto& [bound, neighbour, commandBytes] : kCases) {
        DeltaBlockWriter w(bound);
        w.PackedInteger(bound);  // copies what exists of a long run: "AB"
        w.PackedInteger(0);
        w.CommandByte(0);
        w.PackedInteger(1);  // back to position 0: "A"
        w.PackedInteger(-static_cast<int64_t>(bound));
        EXPECT_EQ(w.blocks()[kCommandBlock].size(), commandBytes) << bound;
        Bytes out;
        DeltaStepOutcome r = Decode(Header(0, 0, 4), w.blocks(), BytesOf("AB"), bound, &out);
        EXPECT_EQ(r.result, kOk) << bound;
        EXPECT_EQ(out, BytesOf("ABA")) << bound;
        r = Decode(Header(0, 0, 4), w.blocks(), BytesOf("AB"), neighbour, &out);
        EXPECT_FALSE(r.result == kOk && out == BytesOf("ABA")) << bound << " read as " << neighbour;
    }
}

}  // namespace
