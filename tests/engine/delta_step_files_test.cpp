// The decoder's file side: reads report exactly the bytes that exist, and
// output gathered in memory reads back the same as output on disk.
#include <gtest/gtest.h>

#include "engine/delta_step_files.h"
#include "platform/file_primitives.h"
#include "tests/engine/engine_harness.h"

namespace {

class DeltaFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = MakeScratchDirectory("delta");
        for (uint32_t i = 0; i < kSize; ++i) content.push_back(static_cast<uint8_t>(i * 7 + 3));
        WriteTree(dir, {{"input.bin", content}});
        input.reset(OpenForRead(dir + "\\input.bin"));
        output.reset(CreateNewFile(dir + "\\output.bin"));
        ASSERT_TRUE(input && output);
    }
    void TearDown() override {
        input.reset();
        output.reset();
        RemoveTree(dir);
    }
    static constexpr uint32_t kSize = 3000;
    std::string dir;
    Bytes content;
    ScopedFile input;
    ScopedFile output;
};

TEST_F(DeltaFiles, ReadsReportOnlyTheBytesThatExist) {
    BufferedFileReader reader(input.get(), 1024);
    struct Case {
        uint32_t position;
        uint32_t count;
        uint32_t expected;
    };
    const Case cases[] = {
        {0, 10, 10},       {1020, 10, 10},     // across the buffer's edge
        {2990, 100, 10},   {3000, 5, 0},       // at and past the end
        {5000, 5, 0},      {100, 2000, 2000},  // larger than the buffer
        {2500, 1024, 500}, {10, 10, 10},       // back to the start
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.position);
        Bytes buffer(c.count + 8, 0xEE);
        uint32_t got = 12345;
        ASSERT_TRUE(reader.Read(c.position, buffer.data(), c.count, &got));
        ASSERT_EQ(c.expected, got);
        EXPECT_TRUE(std::equal(buffer.begin(), buffer.begin() + got, content.begin() + c.position));
        EXPECT_EQ(0xEE, buffer[got]);  // nothing written behind what arrived
    }
}

TEST_F(DeltaFiles, OutputReadsSeeGatheredAndFlushedBytesAlike) {
    ScopedFile blockFiles[kDeltaBlockCount];
    HANDLE blocks[kDeltaBlockCount];
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        blockFiles[b].reset(CreateTempStreamFile());
        blocks[b] = blockFiles[b].get();
    }
    FileDeltaStepIo io(input.get(), output.get(), blocks);
    Bytes written;
    for (int piece = 0; piece < 200; ++piece) {
        Bytes bytes(700, static_cast<uint8_t>(piece));
        ASSERT_TRUE(io.WriteOutput(bytes.data(), static_cast<uint32_t>(bytes.size())));
        written.insert(written.end(), bytes.begin(), bytes.end());
        // Read back from the start, the middle and the end of what was written.
        for (uint32_t position : {0u, static_cast<uint32_t>(written.size() / 2),
                                  static_cast<uint32_t>(written.size() - 5)}) {
            uint8_t back[16];
            uint32_t got = 0;
            ASSERT_TRUE(io.ReadOutput(position, back, sizeof back, &got));
            ASSERT_EQ(std::min<size_t>(sizeof back, written.size() - position), got);
            EXPECT_TRUE(std::equal(back, back + got, written.begin() + position));
        }
    }
    ASSERT_TRUE(io.Flush());
    EXPECT_EQ(written.size(), FileSize(output.get()));
    output.reset();
    EXPECT_EQ(written, ReadTree(dir)["output.bin"]);
}

}  // namespace
