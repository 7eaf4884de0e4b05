// Whole runs: what the target holds afterwards, and what the log says.
#include "core/result_codes.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

const Bytes kOldA = TextBytes("alpha version one, with some text that stays the same");
const Bytes kNewA = TextBytes("alpha version one, with some text that changed at the end!");
const Bytes kOldB = TextBytes("bravo old");
const Bytes kNewB = TextBytes("bravo new and longer");

TEST_F(EngineRun, MixedPatchReplacesBacksUpAndRetires) {
    WriteTree(target, {{"a.txt", kOldA},
                       {"sub\\b.txt", kOldB},
                       {"gone.txt", TextBytes("x")},
                       {"same.txt", kNewB}});
    OneSection s;
    s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA));
    s.w.Changed(ChangeOf("sub\\b.txt", {kOldB}, kNewB));
    s.w.Changed(ChangeOf("same.txt", {kOldB}, kNewB));  // already new
    s.w.NewFile("fresh\\n.txt", TextBytes("brand new"));
    s.w.Obsolete("gone.txt");
    s.w.Obsolete("never-there.txt");

    ASSERT_EQ(kOk, Run(s.Finish()));

    FileTree expected = {{"a.txt", kNewA},
                         {"sub\\", {}},
                         {"sub\\b.txt", kNewB},
                         {"same.txt", kNewB},
                         {"fresh\\", {}},
                         {"fresh\\n.txt", TextBytes("brand new")},
                         {"BAK\\", {}},
                         {"BAK\\a.txt", kOldA},
                         {"BAK\\sub\\", {}},
                         {"BAK\\sub\\b.txt", kOldB},
                         {"BAK\\gone.txt", TextBytes("x")}};
    EXPECT_EQ(expected, ReadTree(target));
    EXPECT_EQ(1, LogCount(kAlreadyNew));
    EXPECT_EQ(3, LogCount(kDone));
    EXPECT_EQ(0, gAnswers.questions);
}

TEST_F(EngineRun, ChainFromMiddleVersionUsesIntermediateAndLeavesNothing) {
    const Bytes v1 = TextBytes("one: the first release of the file");
    const Bytes v2 = TextBytes("two: the second release of the file, a bit longer");
    const Bytes v3 = TextBytes("three: third");
    const Bytes next = TextBytes("four: the release this patch brings");
    WriteTree(target, {{"f.dat", v2}});
    OneSection s;
    s.w.Changed(ChangeOf("f.dat", {v1, v2, v3}, next));
    ASSERT_EQ(kOk, Run(s.Finish()));
    EXPECT_EQ((FileTree{{"f.dat", next}, {"BAK\\", {}}, {"BAK\\f.dat", v2}}), ReadTree(target));
}

TEST_F(EngineRun, SourceMatchingOnlyInBackupIsUsed) {
    WriteTree(target, {{"a.txt", TextBytes("foreign content")}, {"BAK\\a.txt", kOldA}});
    OneSection s;
    s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA));
    ASSERT_EQ(kOk, Run(s.Finish()));
    EXPECT_EQ(kNewA, ReadTree(target)["a.txt"]);
    EXPECT_EQ(TextBytes("foreign content"), ReadTree(target)["BAK\\a.txt"]);
}

TEST_F(EngineRun, MissingSourceIsNotLookedForInBackup) {
    WriteTree(target, {{"BAK\\a.txt", kOldA}});
    OneSection s;
    s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA));
    EXPECT_EQ(kNoMatchingSource, Run(s.Finish()));
    EXPECT_EQ((FileTree{{"BAK\\", {}}, {"BAK\\a.txt", kOldA}}), ReadTree(target));
}

TEST_F(EngineRun, UnmatchedFileFollowsItsFlags) {
    struct Case {
        uint8_t flags;
        int result;
        bool warned;
    };
    const Case cases[] = {{0, kNoMatchingSource, false},
                          {kOptional, kOk, true},
                          {kOptional | kSilent, kOk, false},
                          {kSilent, kNoMatchingSource, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.flags));
        ClearLog();
        RemoveTree(target);
        WriteTree(target, {{"a.txt", TextBytes("foreign")}, {"b.txt", kOldB}});
        OneSection s;
        s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA, c.flags));
        s.w.Changed(ChangeOf("b.txt", {kOldB}, kNewB));
        EXPECT_EQ(c.result, Run(s.Finish()));
        EXPECT_EQ(1, LogCount(kSourceMismatch));
        EXPECT_EQ(c.warned, LogHolds(kOptionalSkipped));
        // The error is shown once; a skipped file stays as it was.
        EXPECT_EQ(c.result == kOk ? 0 : 1, LogCount(kNoMatchingSource));
        EXPECT_EQ(TextBytes("foreign"), ReadTree(target)["a.txt"]);
        EXPECT_EQ(c.result == kOk ? kNewB : kOldB, ReadTree(target)["b.txt"]);
        EXPECT_TRUE(NoStagingLeft());
    }
}

TEST_F(EngineRun, CheckFailureAtAnyRecordLeavesTargetUntouched) {
    const FileTree before = {{"a.txt", kOldA},
                             {"b.txt", kOldB},
                             {"c.txt", TextBytes("c")},
                             {"BAK\\", {}},
                             {"BAK\\keep.txt", TextBytes("earlier backup")}};
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(failing);
        RemoveTree(target);
        WriteTree(target, before);
        // The failing record names a version that is not on disk.
        auto source = [&](int changed, const Bytes& real) {
            return changed == failing ? TextBytes("?") : real;
        };
        OneSection s;
        s.w.Changed(ChangeOf("a.txt", {source(0, kOldA)}, kNewA));
        s.w.NewFile("n.txt", TextBytes("new"));
        s.w.Changed(ChangeOf("b.txt", {source(1, kOldB)}, kNewB));
        s.w.Changed(ChangeOf("c.txt", {source(2, TextBytes("c"))}, TextBytes("C")));
        EXPECT_EQ(kNoMatchingSource, Run(s.Finish()));
        EXPECT_EQ(before, ReadTree(target));
    }
}

TEST_F(EngineRun, LaterRunInSameProcessRebuildsChainAfterCleanup) {
    const Bytes v1 = TextBytes("first");
    const Bytes v2 = TextBytes("second one");
    const Bytes next = TextBytes("third and newest");
    OneSection s;
    s.w.Changed(ChangeOf("f.dat", {v1, v2}, next));
    const Bytes stream = s.Finish();
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        RemoveTree(target);
        WriteTree(target, {{"f.dat", v1}});
        ASSERT_EQ(kOk, Run(stream));
        EXPECT_EQ(next, ReadTree(target)["f.dat"]);
        EXPECT_TRUE(NoStagingLeft());
    }
}

TEST_F(EngineRun, SectionWithoutStagedFilesLeavesNoStagingDirectory) {
    WriteTree(target, {{"gone.txt", TextBytes("x")}});
    OneSection s;
    s.w.Obsolete("gone.txt");
    ASSERT_EQ(kOk, Run(s.Finish()));
    EXPECT_EQ((FileTree{{"BAK\\", {}}, {"BAK\\gone.txt", TextBytes("x")}}), ReadTree(target));
}

TEST_F(EngineRun, NamesLeavingTheTargetAreDamageFoundBeforeAnyChange) {
    const std::string outside = MakeScratchDirectory("outside");
    const std::string inside = outside + "\\t";
    WriteTree(inside, {{"a.txt", kOldA}});
    struct Case {
        const char* label;
        std::string backupName;
        std::string fileName;
        std::string sourceName;
    };
    const Case cases[] = {
        {"file name with ..", kBackup, "..\\evil.txt", ""},
        {"absolute file name", kBackup, "\\evil.txt", ""},
        {"file name with drive", kBackup, "C:evil.txt", ""},
        {"source name with ..", kBackup, "a.txt", "..\\a.txt"},
        {"backup name with ..", "..\\bk", "a.txt", ""},
        {"absolute backup name", "\\bk", "a.txt", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const FileTree before = ReadTree(outside);
        OneSection s(c.backupName);
        s.w.NewFile("first.txt", TextBytes("staged before the bad record"));
        ChangedFile change = ChangeOf(c.fileName, {kOldA}, kNewA);
        change.variants[0].sourceName = c.sourceName;
        s.w.Changed(change);
        EXPECT_EQ(kInternalFileError, RunAt(s.Finish(), inside));
        EXPECT_EQ(before, ReadTree(outside));
    }
    RemoveTree(outside);
}

TEST_F(EngineRun, DamagedDeltasStopWithoutLooping) {
    const Bytes source = TextBytes("ABCD");
    ChangedFile chunkless = ChangeOf("a.txt", {source}, TextBytes("xy"));
    chunkless.variants[0].header.chunkSize = 0;
    chunkless.variants[0].blocks[kCommandBlock] = {0x02};  // insert of two bytes
    chunkless.variants[0].blocks[kBitStreamB] = {0x01};    // negative
    chunkless.variants[0].blocks[kBitStreamC] = {0x01};
    chunkless.variants[0].blocks[kInsertBlock] = TextBytes("xy");
    chunkless.variants[0].blocks[kDiffBlock] = {};
    ChangedFile tooMany = ChangeOf("a.txt", {}, TextBytes("xy"));
    for (int k = 0; k <= kMaxSourceVariants; ++k) {
        tooMany.variants.push_back(EncodeDelta(source, TextBytes("xy"), EncodeOptions{}));
    }
    // A copy of eight bytes from a four-byte source: only what exists may arrive.
    ChangedFile pastEnd = ChangeOf("a.txt", {source}, TextBytes("ABCDABCD"));
    pastEnd.variants[0].blocks[kCommandBlock] = {0x08, 0x00, 0x00};
    pastEnd.variants[0].blocks[kBitStreamB] = {0x00};
    pastEnd.variants[0].blocks[kBitStreamC] = {};
    pastEnd.variants[0].blocks[kInsertBlock] = {};
    pastEnd.variants[0].blocks[kDiffBlock] = {};
    struct Case {
        const char* label;
        ChangedFile file;
        int result;
    };
    const Case cases[] = {{"insert with chunk size 0", chunkless, kPatchDamaged},
                          {"more than 20 variants", tooMany, kInternalFileError},
                          {"copy past the source's end", pastEnd, kChecksumMismatch}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        RemoveTree(target);
        WriteTree(target, {{"a.txt", source}});
        OneSection s;
        s.w.Changed(c.file);
        EXPECT_EQ(c.result, Run(s.Finish()));
        EXPECT_EQ((FileTree{{"a.txt", source}}), ReadTree(target));
    }
}

TEST_F(EngineRun, StopRequestOfEarlierRunIsForgotten) {
    WriteTree(target, {{"a.txt", kOldA}});
    OneSection s;
    s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA));
    gWindow.stopRequested = true;
    EXPECT_EQ(kOk, Run(s.Finish()));
    EXPECT_EQ(kNewA, ReadTree(target)["a.txt"]);
}

TEST_F(EngineRun, StopDuringCheckPassUndoesNothingAndStopsBeforeApply) {
    WriteTree(target, {{"a.txt", kOldA}});
    OneSection s;
    s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA));
    // The check pass pumps messages; this one arrives as the user's confirmed close.
    static const UINT kStopMessage = WM_APP + 7;
    SetWindowLongPtrA(gWindow.mainWindow, GWLP_WNDPROC,
                      reinterpret_cast<LONG_PTR>(+[](HWND w, UINT m, WPARAM wp, LPARAM lp) {
                          if (m == kStopMessage) gWindow.stopRequested = true;
                          return DefWindowProcA(w, m, wp, lp);
                      }));
    LoadPatchStream(s.Finish());
    gWindow.requestedTargetPath = target;
    PostMessageA(gWindow.mainWindow, kStopMessage, 0, 0);
    EXPECT_EQ(kUserStopped, ApplyDriver());
    EXPECT_EQ((FileTree{{"a.txt", kOldA}}), ReadTree(target));
    EXPECT_EQ(1, LogCount(kUserStopped));
}

TEST_F(EngineRun, NewTimeStampsPlacedAndAlreadyNewFiles) {
    WriteTree(target, {{"a.txt", kOldA}, {"same.txt", kNewB}});
    const uint32_t stamp = DosDateTime(2001, 2, 3, 4, 5, 6);
    OneSection s;
    ChangedFile a = ChangeOf("a.txt", {kOldA}, kNewA);
    a.header.newTime = stamp;
    ChangedFile same = ChangeOf("same.txt", {kOldB}, kNewB);
    same.header.newTime = stamp;
    s.w.Changed(a);
    s.w.Changed(same);
    s.w.NewFile("n.txt", TextBytes("n"), stamp);
    ASSERT_EQ(kOk, Run(s.Finish()));
    FILETIME local;
    DosDateTimeToFileTime(stamp >> 16, stamp & 0xFFFF, &local);
    FILETIME expected;
    LocalFileTimeToFileTime(&local, &expected);
    for (const char* name : {"a.txt", "same.txt", "n.txt"}) {
        SCOPED_TRACE(name);
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(At(name).c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(0, CompareFileTime(&expected, &data.ftLastWriteTime));
    }
}

}  // namespace
