// Whole runs: what the target holds afterwards, and what the log says.
#include "tests/engine/engine_test_fixture.h"

namespace {

const Bytes kOldA = TextBytes("alpha version one, with some text that stays the same");
const Bytes kNewA = TextBytes("alpha version one, with some text that changed at the end!");
const Bytes kOldB = TextBytes("bravo old");
const Bytes kNewB = TextBytes("bravo new and longer");

FILETIME LastWriteTime(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

// b.bin is larger than every read and write buffer, and its new version
// repeats a block the old one lacks, so the rebuild copies from its own output.
TEST_F(EngineRun, MixedPatchReplacesBacksUpRetiresAndStamps) {
    const Bytes oldBig = PseudoRandomBytes(200000, 1);
    Bytes newBig = ScatteredChange(oldBig, 4000);
    const Bytes repeated = PseudoRandomBytes(30000, 2);
    for (int k = 0; k < 2; ++k)
        newBig.insert(newBig.begin() + 70000, repeated.begin(), repeated.end());
    WriteTree(target, {{"a.txt", kOldA},
                       {"sub\\b.bin", oldBig},
                       {"gone.txt", TextBytes("x")},
                       {"same.txt", kNewB}});
    const uint32_t stamp = DosDateTime(2001, 2, 3, 4, 5, 6);
    OneSection s;
    ChangedFile a = ChangeOf("a.txt", {kOldA}, kNewA);
    ChangedFile same = ChangeOf("same.txt", {kOldB}, kNewB);  // already new
    a.header.newTime = same.header.newTime = stamp;
    s.w.Changed(a);
    s.w.Changed(ChangeOf("sub\\b.bin", {oldBig}, newBig));
    s.w.Changed(same);
    s.w.NewFile("fresh\\n.txt", TextBytes("brand new"), stamp);
    s.w.Obsolete("gone.txt");
    s.w.Obsolete("never-there.txt");
    ASSERT_EQ(kOk, Run(s.Finish()));
    const FileTree expected = {{"a.txt", kNewA},
                               {"sub\\", {}},
                               {"sub\\b.bin", newBig},
                               {"same.txt", kNewB},
                               {"fresh\\", {}},
                               {"fresh\\n.txt", TextBytes("brand new")},
                               {"BAK\\", {}},
                               {"BAK\\a.txt", kOldA},
                               {"BAK\\sub\\", {}},
                               {"BAK\\sub\\b.bin", oldBig},
                               {"BAK\\gone.txt", TextBytes("x")}};
    EXPECT_EQ(expected, ReadTree(target));
    EXPECT_EQ(1, LogCount(MessageId::kAlreadyNew));
    EXPECT_EQ(3 + 1, LogCount(MessageId::kDone));  // and in the closing success line
    EXPECT_EQ(0, host.questions);
    FILETIME local, expectedTime;
    DosDateTimeToFileTime(stamp >> 16, stamp & 0xFFFF, &local);
    LocalFileTimeToFileTime(&local, &expectedTime);
    for (const char* name : {"a.txt", "same.txt", "fresh\\n.txt"}) {
        WIN32_FILE_ATTRIBUTE_DATA data;
        ASSERT_TRUE(GetFileAttributesExA(At(name).c_str(), GetFileExInfoStandard, &data));
        EXPECT_EQ(0, CompareFileTime(&expectedTime, &data.ftLastWriteTime)) << name;
    }
}

// Decision: every run stages afresh, so runs in one process (Apply pressed
// again) rebuild chains from any version and leave no staging behind.
TEST_F(EngineRun, ChainsFromAnyVersionInLaterRunsOfOneProcess) {
    const Bytes v1 = TextBytes("one: the first release of the file");
    const Bytes v2 = TextBytes("two: the second release of the file, a bit longer");
    const Bytes v3 = TextBytes("three: third");
    const Bytes next = TextBytes("four: the release this patch brings");
    OneSection s;
    s.w.Changed(ChangeOf("f.dat", {v1, v2, v3}, next));
    const Bytes stream = s.Finish();
    for (const Bytes& start : {v1, v2, v1, v3}) {
        Reset({{"f.dat", start}});
        ASSERT_EQ(kOk, Run(stream));
        EXPECT_EQ((FileTree{{"f.dat", next}, {"BAK\\", {}}, {"BAK\\f.dat", start}}),
                  ReadTree(target));
    }
}

// Decision: a source is looked for in the backup when the target holds a
// foreign version and when it holds none (a run ended between its moves).
TEST_F(EngineRun, BackupServesAsSourceBesideAForeignOrMissingFile) {
    OneSection s;
    s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA));
    const Bytes stream = s.Finish();
    WriteTree(target, {{"a.txt", TextBytes("foreign")}, {"BAK\\a.txt", kOldA}});
    ASSERT_EQ(kOk, Run(stream));
    EXPECT_EQ((FileTree{{"a.txt", kNewA}, {"BAK\\", {}}, {"BAK\\a.txt", TextBytes("foreign")}}),
              ReadTree(target));
    Reset({{"BAK\\a.txt", kOldA}});
    ASSERT_EQ(kOk, Run(stream));
    EXPECT_EQ((FileTree{{"a.txt", kNewA}, {"BAK\\", {}}, {"BAK\\a.txt", kOldA}}), ReadTree(target));
    Reset({{"BAK\\a.txt", TextBytes("foreign")}});
    EXPECT_EQ(kNoMatchingSource, Run(stream));  // the CRC value still decides
}

// A mistyped path is never made into a folder, and a folder without any file
// of the patch is named as such instead of failing file by file.
TEST_F(EngineRun, TargetWithoutTheProductIsNamedAndNeverMade) {
    const std::tuple<const char*, bool, FileTree, uint8_t, int> cases[] = {
        {"no such folder", false, {}, 0, kNotForThisTarget},
        {"no such folder, optional files", false, {}, kOptional, kNotForThisTarget},
        {"empty folder", true, {}, 0, kNotForThisTarget},
        {"another product", true, {{"other.txt", kOldB}}, 0, kNotForThisTarget},
        {"only optional files to change", true, {}, kOptional, kOk},
        {"a file to retire is there", true, {{"gone.txt", kOldB}}, 0, kNoMatchingSource},
        {"the old copy in the backup", true, {{"BAK\\a.txt", kOldA}}, 0, kOk},
    };
    const std::string folder = target + "\\product";
    for (const auto& [what, exists, tree, changedFlags, result] : cases) {
        SCOPED_TRACE(what);
        Reset({});
        CreateDirectoryA(target.c_str(), nullptr);
        if (exists) {
            CreateDirectoryA(folder.c_str(), nullptr);
            WriteTree(folder, tree);
        }
        OneSection s;
        s.w.Changed(ChangeOf("a.txt", {kOldA}, kNewA, changedFlags));
        s.w.NewFile("n.txt", TextBytes("new"));
        s.w.Obsolete("gone.txt");
        EXPECT_EQ(result, Run(s.Finish(), folder));
        if (result != kNotForThisTarget) continue;
        std::string joined;  // the log wraps long lines
        for (const std::string& line : host.log) joined += line;
        EXPECT_NE(joined.find("錯誤，中文化檔不適用於 [" + folder + "]。"), std::string::npos);
        EXPECT_EQ(exists, IsDirectory(folder));
        if (exists) {
            EXPECT_EQ(tree, ReadTree(folder));
        }
    }
}

TEST_F(EngineRun, UnmatchedFileFollowsItsFlags) {
    const std::tuple<uint8_t, int, bool> cases[] = {{0, kNoMatchingSource, false},
                                                    {kOptional, kOk, true},
                                                    {kOptional | kSilent, kOk, false},
                                                    {kSilent, kNoMatchingSource, false}};
    for (const auto& [flags, result, warned] : cases) {
        SCOPED_TRACE(static_cast<int>(flags));
        Reset({{"a.txt", TextBytes("foreign")}, {"b.txt", kOldB}});
        const FILETIME before = LastWriteTime(At("a.txt"));
        OneSection s;
        ChangedFile a = ChangeOf("a.txt", {kOldA}, kNewA, flags);
        a.header.newTime = DosDateTime(2001, 2, 3, 4, 5, 6);
        s.w.Changed(a);
        s.w.Changed(ChangeOf("b.txt", {kOldB}, kNewB));
        EXPECT_EQ(result, Run(s.Finish()));
        EXPECT_EQ(1, LogCount(MessageId::kSourceMismatch));
        EXPECT_EQ(warned ? 1 : 0, LogCount(MessageId::kOptionalSkipped));
        // The error is shown once; a skipped file stays as it was.
        EXPECT_EQ(result == kOk ? 0 : 1, LogCount(kNoMatchingSource));
        FileTree expected = {{"a.txt", TextBytes("foreign")},
                             {"b.txt", result == kOk ? kNewB : kOldB}};
        if (result == kOk) expected.insert({{"BAK\\", {}}, {"BAK\\b.txt", kOldB}});
        EXPECT_EQ(expected, ReadTree(target));
        // Nor does its time stamp claim the new version.
        const FILETIME after = LastWriteTime(At("a.txt"));
        EXPECT_EQ(0, CompareFileTime(&before, &after));
    }
}

// A failure in the check pass changes nothing: no file, no backup, no value.
TEST_F(EngineRun, CheckFailureAtAnyRecordLeavesTargetUntouched) {
    const FileTree before = {{"a.txt", kOldA},
                             {"b.txt", kOldB},
                             {"c.txt", TextBytes("c")},
                             {"BAK\\", {}},
                             {"BAK\\keep.txt", TextBytes("earlier backup")}};
    SetRegistryValue(kKey, "Installed", TextBytes("yes"));
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(failing);
        Reset(before);
        // The failing record names a version that is not on disk.
        auto source = [&](int changed, const Bytes& real) {
            return changed == failing ? TextBytes("?") : real;
        };
        OneSection s;
        s.w.Changed(ChangeOf("a.txt", {source(0, kOldA)}, kNewA));
        s.w.NewFile("n.txt", TextBytes("new"));
        s.w.Changed(ChangeOf("b.txt", {source(1, kOldB)}, kNewB));
        s.w.Changed(ChangeOf("c.txt", {source(2, TextBytes("c"))}, TextBytes("C")));
        RegistryScriptWriter script(kCurrentUserRoot, kKey, "Installed");
        script.OpenKey(kCurrentUserRoot, kKey);
        script.SetValue("Written", REG_BINARY, TextBytes("w"));
        s.w.Registry(script.Finish());
        EXPECT_EQ(kNoMatchingSource, Run(s.Finish()));
        EXPECT_EQ(before, ReadTree(target));
        EXPECT_EQ(kMissing, RegistryValue(kKey, "Written"));
    }
}

// Every step reads its own blocks only, also after a step whose blocks were
// longer: a delta whose insert or diff block is one byte short is damage,
// even where the earlier step's block held exactly the byte it lacks.
TEST_F(EngineRun, StepNeverReadsPastItsOwnBlock) {
    const Bytes old = PseudoRandomBytes(5000, 3);
    Bytes changed = ScatteredChange(old, 300);
    const Bytes inserted = PseudoRandomBytes(700, 4);
    changed.insert(changed.begin() + 2500, inserted.begin(), inserted.end());
    for (int block : {kInsertBlock, kDiffBlock}) {
        SCOPED_TRACE(block);
        const FileTree before = {{"a.bin", old}, {"b.bin", old}};
        Reset(before);
        ChangedFile a = ChangeOf("a.bin", {old}, changed);
        ChangedFile b = ChangeOf("b.bin", {old}, changed);
        Bytes& cut = b.variants[0].blocks[block];
        ASSERT_FALSE(cut.empty());
        cut.pop_back();
        OneSection s;
        s.w.Changed(a);
        s.w.Changed(b);
        EXPECT_EQ(kPatchDamaged, Run(s.Finish()));
        EXPECT_EQ(before, ReadTree(target));
    }
}

}  // namespace
