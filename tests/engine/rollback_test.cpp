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

// Type and data of a value, or "<missing>".
std::pair<DWORD, Bytes> TypedValue(const std::string& name) {
    DWORD type = 0;
    const Bytes data = RegistryValue(kKey, name);
    RegGetValueA(HKEY_CURRENT_USER, kKey, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type, nullptr,
                 nullptr);
    return {data == kMissing ? 0 : type, data};
}

// A failing registry record: the files go back and so does every value the
// run wrote, to its old data and type or to no value; also when the run took
// the road of files in use. A run that succeeds keeps what it wrote.
TEST_F(EngineRun, FailureAtEachRegistryRecordRestoresOldTreeAndValues) {
    const std::pair<DWORD, Bytes> kOld = {REG_BINARY, TextBytes("old")};
    const std::pair<DWORD, Bytes> kSet = {REG_BINARY, TextBytes("set")};
    const std::pair<DWORD, Bytes> kNone = {0, kMissing};
    for (bool inUse : {false, true}) {
        for (int failing = 0; failing <= 3; ++failing) {  // 3: none fails
            SCOPED_TRACE(std::to_string(inUse) + " " + std::to_string(failing));
            Reset(kBefore);
            DeleteRegistryKey(kKey);
            SetRegistryValue(kKey, "Installed", TextBytes("yes"));
            SetRegistryValue(kKey, "v0", kOld.second, kOld.first);
            OneSection s = FileRecords();
            for (int k = 0; k < 3; ++k) {
                // The failing record checks for a value that is not there (kTargetNotRegistered).
                RegistryScriptWriter script(kCurrentUserRoot, kKey,
                                            k == failing ? "Missing" : "Installed");
                script.OpenKey(kCurrentUserRoot, kKey);
                script.SetValue("v" + std::to_string(k), REG_BINARY, TextBytes("set"));
                script.SetValue("v0", REG_BINARY, TextBytes("set"));  // written twice, saved once
                s.w.Registry(script.Finish());
            }
            ASSERT_EQ(kOld, TypedValue("v0"));
            ScopedFile held(inUse ? OpenForRead(At("sub\\b.txt")) : 0);
            const int result = Run(s.Finish());
            held.reset();
            if (failing == 3) {
                EXPECT_EQ(inUse ? kRestartNotDone : kOk, result);
                for (const char* name : {"v0", "v1", "v2"}) EXPECT_EQ(kSet, TypedValue(name));
                // The restart is never taken: its moves are not for later tests.
                RegDeleteKeyValueA(HKEY_LOCAL_MACHINE,
                                   "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                                   "PendingFileRenameOperations");
                continue;
            }
            EXPECT_EQ(kTargetNotRegistered, result);
            FileTree after = ReadTree(target);
            // The deferred pass made the backup's directory for the restart; it stays empty.
            if (inUse) after.erase("BAK\\sub\\");
            EXPECT_EQ(kBefore, after);
            EXPECT_EQ(1, LogCount(kTargetNotRegistered));
            EXPECT_EQ(kOld, TypedValue("v0"));
            EXPECT_EQ(kNone, TypedValue("v1"));
            EXPECT_EQ(kNone, TypedValue("v2"));
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
