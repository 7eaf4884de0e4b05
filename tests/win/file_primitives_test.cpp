#include "platform/file_primitives.h"

#include <gtest/gtest.h>

#include "core/crc.h"
#include "core/result_codes.h"
#include "platform/system_hooks.h"
#include "tests/win/test_support.h"

namespace {

// Whether a second handle with the given access can be had while the first is open.
bool SecondOpenSucceeds(const std::string& path, DWORD access) {
    HANDLE h = CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    CloseHandle(h);
    return true;
}

TEST(FilePrimitives, OpenersShareReadingOnlyAndCreatorsShareNothing) {
    ScratchDirectory dir;
    const std::string path = dir / "f.bin";
    struct Case {
        const char* name;
        HANDLE (*open)(const std::string&);
        bool othersMayRead;
    };
    const Case cases[] = {
        {"OpenForRead", OpenForRead, true},
        {"OpenForReadWrite", OpenForReadWrite, true},
        {"CreateNewFile", CreateNewFile, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DeleteFileForced(path);
        if (c.open != CreateNewFile) WriteWholeFile(path, "data");
        ScopedFile file(c.open(path));
        ASSERT_TRUE(file);
        EXPECT_EQ(SecondOpenSucceeds(path, GENERIC_READ), c.othersMayRead);
        EXPECT_FALSE(SecondOpenSucceeds(path, GENERIC_WRITE));
    }
}

TEST(FilePrimitives, MissingFilesGiveZeroHandlesAndCreateNewRefusesExisting) {
    ScratchDirectory dir;
    EXPECT_EQ(OpenForRead(dir / "none"), HANDLE(0));
    EXPECT_EQ(OpenForReadWrite(dir / "none"), HANDLE(0));
    WriteWholeFile(dir / "old", "keep");
    EXPECT_EQ(CreateNewFile(dir / "old"), HANDLE(0));
    EXPECT_EQ(ReadWholeFile(dir / "old"), "keep");
}

TEST(FilePrimitives, TempStreamFileIsPrivateAndGoneAfterClose) {
    HANDLE handle = CreateTempStreamFile();
    ASSERT_NE(handle, HANDLE(0));
    char name[MAX_PATH + 1] = {};
    ASSERT_GT(GetFinalPathNameByHandleA(handle, name, MAX_PATH, 0), 0u);
    std::string path = name;
    if (path.compare(0, 4, "\\\\?\\") == 0) path.erase(0, 4);
    EXPECT_NE(path.find("kzt"), std::string::npos) << path;
    EXPECT_FALSE(SecondOpenSucceeds(path, GENERIC_READ));
    ASSERT_TRUE(WriteBlock(handle, "xyz", 3));
    CloseFile(handle);
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(FilePrimitives, FileExistsFollowsWhatOthersAllow) {
    ScratchDirectory dir;
    const std::string path = dir / "f.txt";
    EXPECT_FALSE(FileExists(path));
    WriteWholeFile(path, "x");
    EXPECT_TRUE(FileExists(path));
    EXPECT_FALSE(FileExists(dir.path()));  // a directory is no file
    struct Case {
        DWORD access;
        DWORD share;
        bool exists;
    };
    const Case cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, true},
        {GENERIC_WRITE, FILE_SHARE_READ, false},
        {GENERIC_READ, 0, false},
    };
    for (const Case& c : cases) {
        HANDLE other =
            CreateFileA(path.c_str(), c.access, c.share, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        EXPECT_EQ(FileExists(path), c.exists) << c.access << " " << c.share;
        CloseHandle(other);
    }
}

TEST(FilePrimitives, ReadBlockFailsOnShortReadWhileReadSomeReportsIt) {
    ScratchDirectory dir;
    WriteWholeFile(dir / "f", "hello");
    ScopedFile file(OpenForRead(dir / "f"));
    char buffer[16] = {};
    SeekTo(file.get(), 2);
    EXPECT_FALSE(ReadBlock(file.get(), buffer, 10));
    SeekTo(file.get(), 2);
    uint32_t got = 99;
    EXPECT_TRUE(ReadSome(file.get(), buffer, 10, &got));
    EXPECT_EQ(got, 3u);
    EXPECT_EQ(std::string(buffer, 3), "llo");
    SeekTo(file.get(), 1);
    EXPECT_TRUE(ReadBlock(file.get(), buffer, 4));
    EXPECT_EQ(CurrentPosition(file.get()), 5u);
    EXPECT_EQ(FileSize(file.get()), 5u);
    EXPECT_FALSE(WriteBlock(file.get(), "x", 1));  // opened for reading only
}

TEST(FilePrimitives, DeleteRenameAndDirectoryTests) {
    ScratchDirectory dir;
    WriteWholeFile(dir / "ro", "x");
    SetFileAttributesA((dir / "ro").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFileForced(dir / "ro"));
    EXPECT_FALSE(FileExists(dir / "ro"));
    EXPECT_FALSE(DeleteFileForced(dir / "ro"));

    WriteWholeFile(dir / "a", "A");
    WriteWholeFile(dir / "b", "B");
    EXPECT_FALSE(RenameFile(dir / "a", dir / "b"));
    EXPECT_EQ(ReadWholeFile(dir / "b"), "B");
    EXPECT_TRUE(RenameFile(dir / "a", dir / "c"));
    EXPECT_EQ(ReadWholeFile(dir / "c"), "A");

    EXPECT_TRUE(MakeDir(dir / "d"));
    EXPECT_FALSE(MakeDir(dir / "d"));
    EXPECT_TRUE(IsDirectory(dir / "d"));
    EXPECT_FALSE(IsDirectory(dir / "c"));
    EXPECT_FALSE(IsDirectory(dir / "missing"));
    // Any further bit (hidden here: Wine keeps it on directories) is not recognised.
    ASSERT_TRUE(SetFileAttributesA((dir / "d").c_str(), FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(IsDirectory(dir / "d"));
}

TEST(FilePrimitives, JoinPathUsesOneSeparator) {
    struct Case {
        const char* directory;
        const char* expected;
    };
    const Case cases[] = {
        {"C:\\t", "C:\\t\\n.txt"},
        {"C:\\t\\", "C:\\t\\n.txt"},
        {"t/", "t/n.txt"},
        {"", "n.txt"},
        // The last byte of 功 is 0x5C but no separator.
        {"C:\\功", "C:\\功\\n.txt"},
    };
    for (const Case& c : cases) EXPECT_EQ(JoinPath(c.directory, "n.txt"), c.expected);
}

TEST(DirectoryChains, MakeParentDirectoriesMakesEveryParentButNotTheLast) {
    ScratchDirectory dir;
    MakeParentDirectories(dir / "a\\b/c.txt");
    EXPECT_TRUE(IsDirectory(dir / "a"));
    EXPECT_TRUE(IsDirectory(dir / "a\\b"));
    EXPECT_EQ(GetFileAttributesA((dir / "a\\b\\c.txt").c_str()), INVALID_FILE_ATTRIBUTES);

    ScratchDirectory chinese;
    MakeParentDirectories(chinese / "功能\\x.txt");
    // One directory: none cut at the 0x5C trail byte of 功.
    EXPECT_EQ(EntryNames(chinese.path()), std::vector<std::string>({"功能"}));
}

TEST(DirectoryChains, RemoveEmptyParentsStopsAtTheFirstNonEmptyDirectory) {
    ScratchDirectory dir;
    MakeParentDirectories(dir / "a\\b\\c\\f.txt");
    WriteWholeFile(dir / "a\\keep.txt", "k");
    RemoveEmptyParents(dir / "a\\b\\c\\f.txt");
    EXPECT_FALSE(IsDirectory(dir / "a\\b"));
    EXPECT_TRUE(IsDirectory(dir / "a"));

    MakeParentDirectories(dir / "功能\\許\\f.txt");
    RemoveEmptyParents(dir / "功能/許/f.txt");
    EXPECT_EQ(GetFileAttributesA((dir / "功能").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(IsDirectory(dir.path()));
}

TEST(DirectoryChains, StagingDirectoryNumbering) {
    enum Blocker { kNone, kPlainDirectory, kFile, kHiddenDirectory };
    struct Case {
        Blocker patch0;
        int result;
        const char* stagingName;
        bool made;
    };
    const Case cases[] = {
        {kNone, kOk, "PATCH0.TMP", true},
        {kPlainDirectory, kOk, "PATCH1.TMP", true},
        {kFile, kStagingDirFailed, "PATCH0.TMP", false},
        {kHiddenDirectory, kStagingDirFailed, "PATCH0.TMP", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.patch0);
        ScratchDirectory dir;
        const std::string target = dir / "deep\\target";
        MakeParentDirectories(target + "\\x");
        if (c.patch0 == kFile) WriteWholeFile(target + "\\PATCH0.TMP", "");
        if (c.patch0 == kPlainDirectory || c.patch0 == kHiddenDirectory) {
            MakeDir(target + "\\PATCH0.TMP");
        }
        if (c.patch0 == kHiddenDirectory) {
            SetFileAttributesA((target + "\\PATCH0.TMP").c_str(),
                               FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
        }
        std::string staging;
        EXPECT_EQ(CreateStagingDirectory(target, &staging), c.result);
        EXPECT_EQ(staging, target + "\\" + c.stagingName);
        EXPECT_EQ(IsDirectory(staging), c.made);
    }
}

TEST(DirectoryChains, StagingDirectoryMakesAMissingTarget) {
    ScratchDirectory dir;
    std::string staging;
    EXPECT_EQ(CreateStagingDirectory(dir / "x\\y\\", &staging), kOk);
    EXPECT_EQ(staging, dir / "x\\y\\PATCH0.TMP");
    EXPECT_TRUE(IsDirectory(staging));
}

TEST(FileCrc, CrcValuesOfFilesAndRanges) {
    ScratchDirectory dir;
    std::string big;
    for (int i = 0; i < 3000; ++i) big += static_cast<char>(i * 7);
    struct Case {
        const char* name;
        std::string content;
        uint32_t skipOffset;
        uint32_t skipLength;
        std::string covered;
    };
    const Case cases[] = {
        {"abc", "abc", 0, 0, "abc"},
        {"empty", "", 0, 0, ""},
        {"skip in the middle", "abXYZc", 2, 3, "abc"},
        {"skip at the start", "XYabc", 0, 2, "abc"},
        {"skip past the end", "abXYZ", 2, 100, "ab"},
        {"skip offset past the end", "abc", 10, 5, "abc"},
        {"several pieces", big, 1000, 100, big.substr(0, 1000) + big.substr(1100)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteWholeFile(dir / "f", c.content);
        ScopedFile file(OpenForRead(dir / "f"));
        EXPECT_EQ(CrcOfFile(file.get(), c.skipOffset, c.skipLength),
                  CrcOfBuffer(c.covered.data(), c.covered.size(), kCrcStart));
    }
    EXPECT_EQ(CrcOfBuffer("abc", 3, kCrcStart), 0xCADBBE3Du);
}

TEST(FileCrc, RangePastTheEndFoldsOnlyTheBytesThatExist) {
    ScratchDirectory dir;
    WriteWholeFile(dir / "f", "abcdef");
    ScopedFile file(OpenForRead(dir / "f"));
    EXPECT_EQ(CrcOfFileRange(file.get(), 3, 5000, kCrcStart), CrcOfBuffer("def", 3, kCrcStart));
    EXPECT_EQ(CrcOfFileRange(file.get(), 4, 2, 1234u), 1234u);
}

TEST(FilePrimitives, DosTimeIsStoredAsLocalTime) {
    ScratchDirectory dir;
    ScopedFile file(CreateNewFile(dir / "t"));
    ASSERT_TRUE(file);
    // 2001-02-03 04:05:06 (DOS seconds are stored halved).
    const WORD date = ((2001 - 1980) << 9) | (2 << 5) | 3;
    const WORD time = (4 << 11) | (5 << 5) | (6 / 2);
    SetFileTimeFromDos(file.get(), (static_cast<uint32_t>(date) << 16) | time);
    FILETIME written;
    FILETIME local;
    ASSERT_TRUE(GetFileTime(file.get(), nullptr, nullptr, &written));
    ASSERT_TRUE(FileTimeToLocalFileTime(&written, &local));
    WORD gotDate = 0;
    WORD gotTime = 0;
    ASSERT_TRUE(FileTimeToDosDateTime(&local, &gotDate, &gotTime));
    EXPECT_EQ(gotDate, date);
    EXPECT_EQ(gotTime, time);
}

UINT gRestartFlags = 0;
DWORD gRestartReason = 0;
BOOL RecordRestart(UINT flags, DWORD reason) {
    gRestartFlags = flags;
    gRestartReason = reason;
    return FALSE;
}

TEST(SystemHooks, RestartAsksForARebootAndReportsTheAnswer) {
    gExitWindowsHook = RecordRestart;
    EXPECT_FALSE(RequestRestart());
    EXPECT_EQ(gRestartFlags, static_cast<UINT>(EWX_REBOOT));
    EXPECT_EQ(gRestartReason, 0xFFFFFFFFu);
    gExitWindowsHook = [](UINT, DWORD) -> BOOL { return TRUE; };
    EXPECT_TRUE(RequestRestart());
    gExitWindowsHook = nullptr;
}

}  // namespace
