#include "platform/file_primitives.h"

#include <gtest/gtest.h>

#include "core/crc.h"
#include "core/result_codes.h"
#include "platform/system_hooks.h"
#include "tests/win/test_support.h"

namespace {

bool CanOpen(const std::string& path, DWORD access, DWORD share = 3) {
    HANDLE h = CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    return h != INVALID_HANDLE_VALUE;
}

TEST(FilePrimitives, ShareModesAndExistence) {
    ScratchDirectory dir;
    const std::string f = dir / "f";
    struct Case {
        HANDLE (*open)(const std::string&);
        bool othersMayRead, existsForOthers;
    } cases[] = {
        {OpenForRead, true, true}, {OpenForReadWrite, true, false}, {CreateNewFile, false, false}};
    for (const Case& c : cases) {
        DeleteFileForced(f);
        if (c.open != CreateNewFile) WriteWholeFile(f, "data");
        ScopedFile file(c.open(f));
        ASSERT_TRUE(file);
        EXPECT_EQ(CanOpen(f, GENERIC_READ), c.othersMayRead);
        EXPECT_FALSE(CanOpen(f, GENERIC_WRITE));
        EXPECT_EQ(FileExists(f), c.existsForOthers);  // not while another may write
    }
    EXPECT_EQ(CreateNewFile(f), HANDLE(0));  // never overwrites
    EXPECT_EQ(OpenForRead(dir / "none"), HANDLE(0));
    EXPECT_FALSE(FileExists(dir.path));
}

TEST(FilePrimitives, ShortReadsFailAndReadSomeTellsWhatArrived) {
    ScratchDirectory dir;
    WriteWholeFile(dir / "f", "hello");
    ScopedFile file(OpenForRead(dir / "f"));
    char buffer[16];
    uint32_t got = 0;
    SeekTo(file.get(), 2);
    EXPECT_FALSE(ReadBlock(file.get(), buffer, 10));
    SeekTo(file.get(), 2);
    EXPECT_TRUE(ReadSome(file.get(), buffer, 10, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_FALSE(WriteBlock(file.get(), "x", 1));
}

TEST(FilePrimitives, DeleteRenameAndDirectoryAttributes) {
    ScratchDirectory dir;
    WriteWholeFile(dir / "ro", "x");
    SetFileAttributesA((dir / "ro").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFileForced(dir / "ro"));
    WriteWholeFile(dir / "a", "A");
    WriteWholeFile(dir / "b", "B");
    EXPECT_FALSE(RenameFile(dir / "a", dir / "b"));
    EXPECT_EQ(ReadWholeFile(dir / "b"), "B");
    EXPECT_TRUE(MakeDir(dir / "d"));
    EXPECT_TRUE(IsDirectory(dir / "d"));
    EXPECT_FALSE(IsDirectory(dir / "a"));
    // Any further attribute bit (hidden: Wine keeps it on directories) is not recognised.
    SetFileAttributesA((dir / "d").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_FALSE(IsDirectory(dir / "d"));
    EXPECT_EQ(JoinPath("C:\\功", "n"), "C:\\功\\n");  // 功 ends in byte 0x5C
    EXPECT_EQ(JoinPath("C:\\t\\", "n"), "C:\\t\\n");
}

TEST(DirectoryChains, MakeAndRemoveParentsStepOverDoubleByteCharacters) {
    ScratchDirectory dir;
    MakeParentDirectories(dir / "a\\b/c.txt");
    EXPECT_TRUE(IsDirectory(dir / "a\\b"));
    EXPECT_FALSE(IsDirectory(dir / "a\\b\\c.txt"));
    WriteWholeFile(dir / "a\\keep", "k");
    RemoveEmptyParents(dir / "a\\b\\c.txt");
    EXPECT_EQ(EntryNames(dir / "a"), std::vector<std::string>({"keep"}));

    // 功 and 許 both end in byte 0x5C.
    MakeParentDirectories(dir / "功能\\許\\f.txt");
    EXPECT_EQ(EntryNames(dir / "功能"), std::vector<std::string>({"許"}));
    RemoveEmptyParents(dir / "功能/許/f.txt");
    EXPECT_EQ(EntryNames(dir.path), std::vector<std::string>({"a"}));
}

TEST(DirectoryChains, StagingDirectoryNumbering) {
    enum Blocker { kNone, kDirectory, kFile, kHiddenDirectory };
    struct Case {
        Blocker patch0;
        int result;
        const char* name;
    } cases[] = {{kNone, kOk, "PATCH0.TMP"},
                 {kDirectory, kOk, "PATCH1.TMP"},
                 {kFile, kStagingDirFailed, "PATCH0.TMP"},
                 {kHiddenDirectory, kStagingDirFailed, "PATCH0.TMP"}};
    for (const Case& c : cases) {
        ScratchDirectory dir;
        const std::string target = dir / "deep\\target", patch0 = target + "\\PATCH0.TMP";
        MakeParentDirectories(patch0);
        if (c.patch0 == kFile) WriteWholeFile(patch0, "");
        if (c.patch0 == kDirectory || c.patch0 == kHiddenDirectory) MakeDir(patch0);
        if (c.patch0 == kHiddenDirectory) SetFileAttributesA(patch0.c_str(), 0x12);
        std::string staging;
        EXPECT_EQ(CreateStagingDirectory(target + "\\", &staging), c.result) << c.patch0;
        EXPECT_EQ(staging, target + "\\" + c.name);
        EXPECT_EQ(IsDirectory(staging), c.result == kOk);
    }
}

TEST(FileCrc, CrcValuesOverFilesWithSkipRanges) {
    ScratchDirectory dir;
    std::string big;
    for (int i = 0; i < 3000; ++i) big += static_cast<char>(i * 7);
    struct Case {
        std::string content;
        uint32_t skipOffset, skipLength;
        std::string covered;
    } cases[] = {{"abc", 0, 0, "abc"},    {"", 0, 0, ""},
                 {"abXYZc", 2, 3, "abc"}, {"abXYZ", 2, 100, "ab"},
                 {"abc", 10, 5, "abc"},   {big, 1000, 100, big.substr(0, 1000) + big.substr(1100)}};
    for (const Case& c : cases) {
        WriteWholeFile(dir / "f", c.content);
        ScopedFile file(OpenForRead(dir / "f"));
        EXPECT_EQ(CrcOfFile(file.get(), c.skipOffset, c.skipLength),
                  CrcOfBuffer(c.covered.data(), c.covered.size(), kCrcStart));
    }
    EXPECT_EQ(CrcOfBuffer("abc", 3, kCrcStart), 0xCADBBE3Du);
    ScopedFile file(OpenForRead(dir / "f"));
    EXPECT_EQ(CrcOfFileRange(file.get(), 2990, 5000, kCrcStart),
              CrcOfBuffer(big.data() + 2990, 10, kCrcStart));  // ends where the file ends
}

TEST(SystemHooks, RestartAsksForARebootThroughTheHook) {
    static UINT flags = 0;
    static DWORD reason = 0;
    gExitWindowsHook = [](UINT f, DWORD r) -> BOOL { return flags = f, reason = r, FALSE; };
    EXPECT_FALSE(RequestRestart());
    EXPECT_EQ(flags, static_cast<UINT>(EWX_REBOOT));
    EXPECT_EQ(reason, 0xFFFFFFFFu);
    gExitWindowsHook = nullptr;
}

}  // namespace
