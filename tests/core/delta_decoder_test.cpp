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

namespace {

Bytes Hex(std::initializer_list<int> bytes) { return Bytes(bytes.begin(), bytes.end()); }

// Hand-made steps with the result and output the format prescribes. Each runs
// with block bytes delivered whole and one at a time.
struct StepCase {
    const char* name;
    const char* source;
    VariantHeader header;
    Bytes blocks[kDeltaBlockCount];
    uint32_t outputSize;
    int result;
    const char* output;
};

std::vector<StepCase> HandMadeSteps() {
    const VariantHeader example = Header(1, 0, 4);
    std::vector<StepCase> cases = {
        {"worked example",
         "ABCDEFGH",
         example,
         {Hex({3, 0, 1, 2, 3, 3, 0}), Hex({0x01}), Hex({0x04}), BytesOf("xy"), Hex({0x01})},
         8,
         kOk,
         "ABCExyGH"},
        {"raw diffs write the diff byte itself",
         "ABCDEFGH",
         Header(1, kRawDiffs, 4),
         {Hex({3, 0, 1, 2, 3, 3, 0}), Hex({0x01}), Hex({0x04}), BytesOf("xy"), BytesOf("E")},
         8,
         kOk,
         "ABCExyGH"},
        {"output beyond the step size",
         "ABCDEFGH",
         example,
         {Hex({3, 0, 1, 2, 3, 3, 0}), Hex({0x01}), Hex({0x04}), BytesOf("xy"), Hex({0x01})},
         7,
         kChecksumMismatch,
         "ABCExy"},
        {"diff-length byte missing",
         "ABCDEFGH",
         example,
         {Hex({3, 0}), {}, Hex({0x00}), {}, {}},
         8,
         kPatchDamaged,
         ""},
        {"diff block too short",
         "ABCDEFGH",
         example,
         {Hex({3, 0, 2}), {}, Hex({0x00}), {}, Hex({0x01})},
         8,
         kPatchDamaged,
         "ABC"},
        {"chunk size 0 with an insert",
         "ABCDEFGH",
         Header(1, 0, 0),
         {Hex({2}), Hex({0x01}), Hex({0x01}), BytesOf("xy"), {}},
         8,
         kPatchDamaged,
         ""},
        {"copy before the source start",
         "ABCDEFGH",
         example,
         {Hex({2, 1, 0}), {}, Hex({0x02}), {}, {}},
         8,
         kPatchDamaged,
         ""},
        {"copy past the source end writes what exists",
         "ABCD",
         Header(0, 0, 4),
         {Hex({6, 2, 0}), {}, Hex({0x00}), {}, {}},
         8,
         kOk,
         "CD"},
        {"source bytes missing for an addition",
         "ABCD",
         example,
         {Hex({3, 0, 2}), {}, Hex({0x00}), {}, Hex({1, 1})},
         8,
         kPatchDamaged,
         "ABC"},
        {"diff length 0 copies only",
         "ABCDEFGH",
         Header(2, 0, 4),
         {Hex({2, 0, 0, 2, 2}), {}, Hex({0x00}), {}, {}},
         8,
         kOk,
         "ABEF"},
        {"command bytes ending inside a command",
         "ABCDEFGH",
         Header(1, 0, 4),
         {Hex({2, 0, 3}), {}, Hex({0x00}), {}, BytesOf("\x01\x01\x01")},
         8,
         kOk,
         "ABDEF"},
        {"empty step", "ABCD", example, {}, 0, kOk, ""},
    };
    return cases;
}

TEST(DeltaDecoder, HandMadeStepsGiveTheirResult) {
    for (const StepCase& c : HandMadeSteps()) {
        for (uint32_t perRead : {UINT32_MAX, 1u}) {
            Bytes out;
            DeltaStepOutcome r =
                DecodeBlocks(c.header, c.blocks, BytesOf(c.source), c.outputSize, &out, perRead);
            EXPECT_EQ(r.result, c.result) << c.name;
            EXPECT_EQ(out, BytesOf(c.output)) << c.name;
            EXPECT_EQ(r.outputSize, out.size()) << c.name;
            EXPECT_EQ(r.outputCrc, CrcOfBuffer(out.data(), out.size(), kCrcStart)) << c.name;
        }
    }
}

// A zero command while the group counter is 0 drives it to -1: the diff
// length read first stays in force for the rest of the step.
TEST(DeltaDecoder, ZeroCommandAtGroupEndFreezesTheDiffLength) {
    BlockBuilder b(255);
    b.Integer(2);  // copy "ab", reads diff length 1: 'c' + 1
    b.Integer(0);
    b.CommandByte(1);
    b.Append(kDiffBlock, Hex({1}));
    b.Integer(0);  // counter 0 -> -1
    b.Integer(2);  // copy "de" from 0 + 2 + 1, no new diff length: 'f' + 1
    b.Integer(1);
    b.Append(kDiffBlock, Hex({1}));
    b.Integer(2);  // copy "gh", diff byte 0 over 'i'
    b.Integer(1);
    b.Append(kDiffBlock, Hex({0}));
    Bytes out;
    DeltaStepOutcome r = DecodeBlocks(Header(1, 0, 4), b.blocks, BytesOf("abcdefghij"), 10, &out);
    EXPECT_EQ(r.result, kOk);
    EXPECT_EQ(out, BytesOf("abddegghi"));
}

// With ReachOutput, positions at and beyond the source size read the output
// written so far, for copies and for insert chunks added to source bytes.
TEST(DeltaDecoder, PositionsPastTheSourceReadTheOutput) {
    BlockBuilder b(DeltaBound(Header(1, kReachOutput, 4), 9));
    b.Integer(3);  // "xyz"
    b.Integer(0);
    b.CommandByte(0);
    b.Integer(3);  // from position 3 = output 0: "xyz"
    b.Integer(0);
    b.Integer(-3);  // added to output 3..5: "xyz" + 1
    b.Append(kInsertBlock, Hex({1, 1, 1}));
    b.Bit(kBitStreamC, false);
    VariantHeader h = Header(0, kReachOutput, 4);
    Bytes out;
    DeltaStepOutcome r = DecodeBlocks(h, b.blocks, BytesOf("xyz"), 9, &out);
    EXPECT_EQ(r.result, kOk);
    EXPECT_EQ(out, BytesOf("xyzxyzyz{"));
}

// Each integer gets a further byte only when the bound exceeds 255, 65535 or
// 16777215. V = the bound itself needs every byte the bound allows; blocks
// packed for one side of a threshold must not decode on the other side.
TEST(DeltaDecoder, BoundDecidesHowManyIntegerBytesAreAsked) {
    const struct {
        uint32_t bound;
        uint32_t neighbour;
        size_t commandBytes;
    } kCases[] = {
        {255, 256, 1 + 1 + 1 + 1 + 1},           {256, 255, 2 + 1 + 1 + 1 + 2},
        {65535, 65536, 2 + 1 + 1 + 1 + 2},       {65536, 65535, 3 + 1 + 1 + 1 + 3},
        {16777215, 16777216, 3 + 1 + 1 + 1 + 3}, {16777216, 16777215, 4 + 1 + 1 + 1 + 4},
    };
    for (const auto& c : kCases) {
        BlockBuilder b(c.bound);
        b.Integer(c.bound);  // copies what exists of a long run: "AB"
        b.Integer(0);
        b.CommandByte(0);
        b.Integer(1);  // back to position 0: "A"
        b.Integer(-static_cast<int64_t>(c.bound));
        EXPECT_EQ(b.blocks[kCommandBlock].size(), c.commandBytes) << c.bound;
        Bytes out;
        DeltaStepOutcome r = DecodeBlocks(Header(0, 0, 4), b.blocks, BytesOf("AB"), c.bound, &out);
        EXPECT_EQ(r.result, kOk) << c.bound;
        EXPECT_EQ(out, BytesOf("ABA")) << c.bound;
        r = DecodeBlocks(Header(0, 0, 4), b.blocks, BytesOf("AB"), c.neighbour, &out);
        EXPECT_FALSE(r.result == kOk && out == BytesOf("ABA"))
            << c.bound << " read as " << c.neighbour;
    }
}

TEST(DeltaDecoder, FailedWritesAreDiskFull) {
    const StepCase c = HandMadeSteps()[0];
    Bytes source = BytesOf(c.source);
    VariantHeader h = c.header;
    h.sourceSize = static_cast<uint32_t>(source.size());
    for (int b = 0; b < kDeltaBlockCount; ++b) h.blockLength[b] = c.blocks[b].size();
    TestStepIo io(c.blocks, source);
    io.failWrites = true;
    EXPECT_EQ(ReconstructStep(h, 8, io).result, kDiskFull);
}

}  // namespace
