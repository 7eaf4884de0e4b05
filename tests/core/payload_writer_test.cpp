#include "builder/lib/payload_writer.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "builder/lib/patch_reader.h"
#include "tests/core/test_bytes.h"

namespace {

// The stub, the header, the body (one complete deflate stream when
// compressed, nothing behind it) and the trailer: every option, an invalid
// level too, gives a file that reads back whole, also signed; aligned files
// are a multiple of 8 long.
TEST(PatchFile, FramesThePayloadForEveryOption) {
    const Bytes stub = PeImage(0x10B, 13);
    RecordStreamWriter records;
    records.Location(LocationSpec{kRegistryValue, 0x80000002u, "Software\\X", "Path"});
    records.BackupName("BACKUP");
    records.NewFile("a.txt", RandomBytes(3, 5000, 8));
    records.End();
    const Bytes payload = BuildPayload(BytesOf("notice"), BytesOf("desc"), records.bytes());
    const PatchFileOptions kOptions[] = {{true, 9, 30, 2},
                                         {false, 9, 30, 2},
                                         {true, 0, 30, 2},
                                         {true, 42, 30, 2},
                                         {true, 9, 30, 2, true}};
    for (const PatchFileOptions& options : kOptions) {
        const Bytes file = BuildPatchFile(stub, payload, 6, 4, options);
        if (options.alignToEight) {
            EXPECT_EQ(file.size() % 8, 0u);
        }
        for (const Bytes& image : {file, SignedCopy(file, 0x10B)}) {
            PatchContents patch;
            std::string error;
            ASSERT_TRUE(ReadPatch(image, &patch, &error)) << error;
            EXPECT_LT(patch.stubSize - stub.size(), options.alignToEight ? 8u : 1u);
            EXPECT_EQ(patch.payload, payload);
            EXPECT_EQ(patch.notice + "|" + patch.description, "notice|desc");
        }
    }
}

TEST(RecordStreamWriter, OverlongTextIsCutAndReported) {
    RecordStreamWriter w;
    w.Obsolete(std::string(255, 'a'));
    EXPECT_TRUE(w.ok());
    w.Obsolete(std::string(256, 'a'));
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(w.bytes().size(), 2u * (1 + 1 + 255));
}

// Date high (years since 1980, month, day), time low (hour, minute, seconds
// / 2); years outside 1980..2107 are clamped.
TEST(DosDateTime, PacksAndClampsCalendarFields) {
    EXPECT_EQ(DosDateTime(1980, 1, 1, 0, 0, 0), 0x00210000u);
    EXPECT_EQ(DosDateTime(2024, 5, 17, 13, 45, 59), 0x58B16DBDu);
    EXPECT_EQ(DosDateTime(1970, 1, 1, 0, 0, 0), 0x00210000u);
    EXPECT_EQ(DosDateTime(2200, 12, 31, 23, 59, 58), 0xFF9FBF7Du);
}

}  // namespace
