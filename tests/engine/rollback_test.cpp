// A failure at any record after the check pass: the target ends as it was,
// backups included, and no staging directory is left.
#include "core/result_codes.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

const char kKey[] = "Software\\EngineTests\\Rollback";

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

class Rollback : public EngineRun {
  protected:
    void TearDown() override {
        DeleteRegistryKey(kKey);
        EngineRun::TearDown();
    }
};

TEST_F(Rollback, FailureAtEachApplyRecordRestoresOldTree) {
    for (int failing = 0; failing < 5; ++failing) {
        SCOPED_TRACE(kRecordFiles[failing]);
        RemoveTree(target);
        FileTree before = kBefore;
        HANDLE held = INVALID_HANDLE_VALUE;
        if (std::string(kRecordFiles[failing]) == "sub\\n.txt") {
            // Nothing to back up: the staged file cannot take a directory's place (38).
            before["sub\\n.txt\\"] = {};
            WriteTree(target, before);
        } else {
            // An older backup that cannot be deleted stops the record (8).
            before[std::string("BAK\\") + kRecordFiles[failing]] = TextBytes("older backup");
            WriteTree(target, before);
            held = CreateFileA(At(std::string("BAK\\") + kRecordFiles[failing]).c_str(),
                               GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(INVALID_HANDLE_VALUE, held);
        }
        before = ReadTree(target);
        const int result = Run(FileRecords().Finish());
        if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
        EXPECT_EQ(held != INVALID_HANDLE_VALUE ? kBackupFailed : kInternalFileError, result);
        EXPECT_EQ(before, ReadTree(target));
    }
}

TEST_F(Rollback, FailureAtEachRegistryRecordRestoresOldTreeAndKeepsValues) {
    for (int failing = 0; failing < 3; ++failing) {
        SCOPED_TRACE(failing);
        ClearLog();
        RemoveTree(target);
        DeleteRegistryKey(kKey);
        SetRegistryString(kKey, "Installed", "yes");
        WriteTree(target, kBefore);
        OneSection s = FileRecords();
        for (int k = 0; k < 3; ++k) {
            // The failing record checks for a value that is not there (41).
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
            Bytes data;
            EXPECT_EQ(k < failing, ReadRegistryValue(kKey, "v" + std::to_string(k), &data)) << k;
        }
    }
}

TEST_F(Rollback, BackupOfEarlierApplicationIsNotRestored) {
    // a.txt is already new; its backup stems from an earlier application.
    const Bytes fresh = TextBytes("a new");
    FileTree before = kBefore;
    before["a.txt"] = fresh;
    before["BAK\\a.txt"] = TextBytes("the version before the earlier application");
    WriteTree(target, before);
    OneSection s = FileRecords();
    RegistryScriptWriter script(kCurrentUserRoot, kKey, "Missing");
    s.w.Registry(script.Finish());
    EXPECT_EQ(kTargetNotRegistered, Run(s.Finish()));
    EXPECT_EQ(before, ReadTree(target));
}

}  // namespace
