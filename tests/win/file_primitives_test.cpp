#include "platform/file_primitives.h"

#include <gtest/gtest.h>

#include "core/crc.h"
#include "core/result_codes.h"
#include "tests/win/test_support.h"

namespace {

TEST(FilePrimitives, ShortReadsNoOverwritesAndStagingPastLeftovers) {
    ScratchDirectory dir;
    WriteTree(dir.path, {{"a", TextBytes("hello")}, {"ro", TextBytes("x")}, {"b", TextBytes("B")}});
    EXPECT_EQ(CreateNewFile(dir / "a"), HANDLE(0));
    EXPECT_FALSE(FileExists(dir.path));
    ScopedFile file(OpenForRead(dir / "a"));
    char buffer[16];
    uint32_t got = 0;
    SeekTo(file.get(), 2);
    EXPECT_FALSE(ReadBlock(file.get(), buffer, 10));  // all or nothing
    SeekTo(file.get(), 2);
    EXPECT_TRUE(ReadSome(file.get(), buffer, 10, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_TRUE(FileExists(dir / "a"));  // while only read
    file.reset();
    file.reset(OpenForReadWrite(dir / "a"));
    ASSERT_TRUE(file);
    EXPECT_FALSE(FileExists(dir / "a"));  // not while another may write
    file.reset();

    SetFileAttributesA((dir / "ro").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFileForced(dir / "ro"));
    EXPECT_FALSE(RenameFile(dir / "a", dir / "b"));
    EXPECT_EQ(ReadFileBytes(dir / "b"), TextBytes("B"));
    // Decision: a directory is one whatever its other attribute bits (Wine
    // keeps hidden on directories), and staging passes over every name in use.
    const std::string patch0 = dir / "PATCH0.TMP";
    EXPECT_TRUE(MakeDir(patch0));
    SetFileAttributesA(patch0.c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(IsDirectory(patch0));
    EXPECT_FALSE(IsDirectory(dir / "a"));
    WriteTree(dir.path, {{"PATCH1.TMP", TextBytes("a file")}});
    std::string staging;
    EXPECT_EQ(CreateStagingDirectory(dir.path + "\\", &staging), kOk);
    EXPECT_EQ(staging, dir / "PATCH2.TMP");
    EXPECT_TRUE(IsDirectory(staging));
    EXPECT_EQ(JoinPath("C:\\功", "n"), "C:\\功\\n");  // 功 ends in byte 0x5C
    EXPECT_EQ(JoinPath("C:\\t\\", "n"), "C:\\t\\n");
}

TEST(DirectoryChains, MakeParentsStepsOverDoubleByteCharacters) {
    ScratchDirectory dir;
    MakeParentDirectories(dir / "a\\b/c.txt");
    WriteTree(dir.path, {{"a\\keep", TextBytes("k")}});
    MakeParentDirectories(dir / "功能\\許\\f.txt");  // 功 and 許 both end in byte 0x5C
    EXPECT_EQ(ReadTree(dir.path), FileTree({{"a\\", {}},
                                            {"a\\b\\", {}},
                                            {"a\\keep", TextBytes("k")},
                                            {"功能\\", {}},
                                            {"功能\\許\\", {}}}));
}

TEST(FileCrc, CrcValuesOverFilesWithSkipRangesOrNone) {
    ScratchDirectory dir;
    std::string big;
    for (int i = 0; i < 3000; ++i) big += static_cast<char>(i * 7);
    const std::tuple<std::string, uint32_t, uint32_t, std::string> cases[] = {
        {"abXYZc", 2, 3, "abc"},
        {"abXYZ", 2, 100, "ab"},
        {"ab", 5, 1, "ab"},
        {big, 1000, 100, big.substr(0, 1000) + big.substr(1100)}};
    for (const auto& [content, skipOffset, skipLength, covered] : cases) {
        WriteTree(dir.path, {{"f", TextBytes(content)}});
        ScopedFile file(OpenForRead(dir / "f"));
        uint32_t crc = 0;
        EXPECT_TRUE(CrcOfFile(file.get(), skipOffset, skipLength, &crc));
        EXPECT_EQ(crc, CrcOfBuffer(covered.data(), covered.size(), kCrcStart));
    }
    // A range beyond the end of the file has no value.
    ScopedFile file(OpenForRead(dir / "f"));
    uint32_t reg = kCrcStart;
    EXPECT_FALSE(CrcOfFileRange(file.get(), 2990, 5000, &reg));
}

// Sparse files beyond 2 GiB and beyond 4 GiB: sizes and seeks use all their
// bits, so neither is taken for a small file nor read at a wrong position.
TEST(FileCrc, LargeSparseFilesKeepWholeSizesAndPositions) {
    ScratchDirectory dir;
    const std::string tail = "the last bytes";
    const uint64_t sizes[] = {(3ull << 30) + tail.size(), (1ull << 32) + tail.size()};
    for (uint64_t size : sizes) {
        SCOPED_TRACE(size);
        ScopedFile file(CreateNewFile(dir / "sparse"));
        ASSERT_TRUE(file);
        DWORD ignored = 0;
        DeviceIoControl(file.get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &ignored, nullptr);
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(size - tail.size());
        ASSERT_TRUE(SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN));
        ASSERT_TRUE(WriteBlock(file.get(), tail.data(), static_cast<uint32_t>(tail.size())));
        EXPECT_EQ(FileSize(file.get()), size);
        uint32_t crc = 0;
        if (size > UINT32_MAX) {
            EXPECT_FALSE(CrcOfFile(file.get(), 0, 0, &crc));  // no version of any record
        } else {
            const uint32_t start = static_cast<uint32_t>(size - tail.size());
            uint32_t reg = kCrcStart;
            EXPECT_TRUE(CrcOfFileRange(file.get(), start, static_cast<uint32_t>(size), &reg));
            EXPECT_EQ(reg, CrcOfBuffer(tail.data(), tail.size(), kCrcStart));
        }
        file.reset();
        DeleteFileA((dir / "sparse").c_str());
    }
}

}  // namespace
