// A failure at any record after the check pass: the target ends as it was,
// backups included, and no staging directory is left.
#include "tests/engine/engine_test_fixture.h"

namespace {

const FileTree kBefore = {
    {"a.txt", TextBytes("a old contents")},
    {"r.txt", TextBytes("replaced by a new file")},
    {"o.txt", TextBytes("obsolete")},
    {"sub\\", {}},
    {"sub\\b.txt", TextBytes("b old")},
    {"BAK\\", {}},
    {"BAK\\earlier.txt", TextBytes("left by an earlier patch")},
};

// The records in stream order, with the destination each one touches.
const char* const kRecordFiles[] = {"a.txt", "sub\\n.txt", "r.txt", "o.txt", "sub\\b.txt"};

OneSection FileRecords() {
    OneSection s;
    s.w.Changed(ChangeOf("a.txt", {kBefore.at("a.txt")}, TextBytes("a new")));
    s.w.NewFile("sub\\n.txt", TextBytes("no predecessor"));
    s.w.NewFile("r.txt", TextBytes("new r"));
    s.w.Obsolete("o.txt");
    s.w.Changed(ChangeOf("sub\\b.txt", {kBefore.at("sub\\b.txt")}, TextBytes("b new")));
    return s;
}

TEST_F(EngineRun, FailureAtEachApplyRecordRestoresOldTree) {
    for (const std::string failing : kRecordFiles) {
        SCOPED_TRACE(failing);
        FileTree before = kBefore;
        const bool hasPredecessor = failing != "sub\\n.txt";
        // Nothing to back up: the staged file cannot take a directory's place (kInternalFileError).
        // Otherwise an older backup that cannot be deleted stops the record (kBackupFailed).
        if (hasPredecessor) {
            before["BAK\\" + failing] = TextBytes("older backup");
        } else {
            before[failing + "\\"] = {};
        }
        Reset(before);
        before = ReadTree(target);
        ScopedFile held(hasPredecessor ? OpenForRead(At("BAK\\" + failing)) : 0);
        ASSERT_EQ(hasPredecessor, static_cast<bool>(held));
        const int result = Run(FileRecords().Finish());
        held.reset();
        EXPECT_EQ(hasPredecessor ? kBackupFailed : kInternalFileError, result);
        EXPECT_EQ(before, ReadTree(target));
    }
}

TEST_F(EngineRun, FailureAtEachRegistryRecordRestoresOldTreeAndKeepsValues) {
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(failing);
        Reset(kBefore);
        DeleteRegistryKey(kKey);
        SetRegistryValue(kKey, "Installed", TextBytes("yes"));
        OneSection s = FileRecords();
        for (int k = 0; k < 3; ++k) {
            // The failing record checks for a value that is not there (kTargetNotRegistered).
            RegistryScriptWriter script(kCurrentUserRoot, kKey,
                                        k == failing ? "Missing" : "Installed");
            script.OpenKey(kCurrentUserRoot, kKey);
            script.SetValue("v" + std::to_string(k), REG_SZ, TextBytes("set"));
            s.w.Registry(script.Finish());
        }
        EXPECT_EQ(kTargetNotRegistered, Run(s.Finish()));
        EXPECT_EQ(kBefore, ReadTree(target));
        EXPECT_EQ(1, LogCount(kTargetNotRegistered));
        // Values written before the failure stay; none after it.
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(k < failing, RegistryValue(kKey, "v" + std::to_string(k)) != kMissing) << k;
        }
    }
}

// Decision: only this run's own moves are undone; a backup left by an
// earlier application of the patch stays a backup.
TEST_F(EngineRun, BackupOfEarlierApplicationIsNotRestored) {
    FileTree before = kBefore;
    before["a.txt"] = TextBytes("a new");  // already new
    before["BAK\\a.txt"] = TextBytes("the version before the earlier application");
    WriteTree(target, before);
    OneSection s = FileRecords();
    s.w.Registry(RegistryScriptWriter(kCurrentUserRoot, kKey, "Missing").Finish());
    EXPECT_EQ(kTargetNotRegistered, Run(s.Finish()));
    EXPECT_EQ(before, ReadTree(target));
}

}  // namespace
