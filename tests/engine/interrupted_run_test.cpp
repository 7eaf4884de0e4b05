// Runs ended abruptly after each step of the apply pass and of the rollback,
// as a power cut or a killed process ends them; then the patch is run again.
// Whatever step was the last, every original file is whole in the target or
// in the backup, and the second run finishes the job: the new tree, the
// originals in the backup, no staging directory left.
#include "platform/system_hooks.h"
#include "tests/core/test_bytes.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

// The second patch of a series: a.txt and o.txt have older backups.
const FileTree kOldTree = {
    {"a.txt", TextBytes("a old")},        {"r.txt", TextBytes("r old, replaced by a new file")},
    {"o.txt", TextBytes("o old")},        {"sub\\b.txt", TextBytes("b old")},
    {"BAK\\a.txt", TextBytes("a older")}, {"BAK\\o.txt", TextBytes("o older")}};
const char* const kOriginals[] = {"a.txt", "r.txt", "o.txt", "sub\\b.txt"};

class Interrupted : public EngineRun {
  protected:
    void SetUp() override {
        EngineRun::SetUp();
        streamDir = MakeScratchDirectory("stream");
        WriteTree(streamDir, {{"stream.bin", Stream()}});
    }
    void TearDown() override {
        RemoveTree(streamDir);
        EngineRun::TearDown();
    }
    static Bytes Stream() {
        OneSection s;
        ChangedFile a = ChangeOf("a.txt", {kOldTree.at("a.txt")}, TextBytes("a new"));
        ChangedFile b = ChangeOf("sub\\b.txt", {kOldTree.at("sub\\b.txt")}, TextBytes("b new"));
        a.header.newTime = b.header.newTime = DosDateTime(2002, 3, 4, 5, 6, 8);
        s.w.Changed(a);
        s.w.NewFile("n.txt", TextBytes("n new"));
        s.w.NewFile("r.txt", TextBytes("r new"));
        s.w.Obsolete("o.txt");
        s.w.Changed(b);
        s.w.Registry(RegistryScriptWriter(kCurrentUserRoot, kKey, "Installed").Finish());
        return s.Finish();
    }
    static FileTree NewTree() {
        FileTree tree = {{"a.txt", TextBytes("a new")},
                         {"n.txt", TextBytes("n new")},
                         {"r.txt", TextBytes("r new")},
                         {"sub\\", {}},
                         {"sub\\b.txt", TextBytes("b new")},
                         {"BAK\\", {}},
                         {"BAK\\sub\\", {}}};
        for (const char* name : kOriginals) tree[std::string("BAK\\") + name] = kOldTree.at(name);
        return tree;
    }
    // The run in a process of its own, ended after the count-th step.
    DWORD RunEndedAt(RunStep step, int count) {
        return RunProgram("\"" + ProgramDirectory() + "\\engine_run_helper.exe\" \"" + streamDir +
                          "\\stream.bin\" \"" + target + "\" " +
                          std::to_string(static_cast<int>(step)) + " " + std::to_string(count));
    }
    // Ends a run of stream over older after each occurrence of each step in
    // turn (a rollback step: the run fails at its registry check); every
    // original is then whole in the target or the backup, and the next run
    // gives patched.
    void EndAfterEveryStep(const Bytes& stream, const FileTree& older, const FileTree& patched,
                           const std::vector<std::pair<RunStep, int>>& steps) {
        ASSERT_TRUE(WriteFileBytes(streamDir + "\\stream.bin", stream));
        for (const auto& [step, occurrences] : steps) {
            for (int count = 1;; ++count) {
                SCOPED_TRACE(std::to_string(static_cast<int>(step)) + " #" + std::to_string(count));
                Reset(older);
                const FileTree before = ReadTree(target);
                DeleteRegistryKey(kKey);
                if (step != RunStep::kRestored)
                    SetRegistryValue(kKey, "Installed", TextBytes("yes"));
                if (RunEndedAt(step, count) != static_cast<DWORD>(kEndedAtStep)) {
                    EXPECT_EQ(occurrences, count - 1);
                    break;
                }
                const FileTree ended = ReadTree(target);
                for (const auto& [name, content] : before) {
                    if (name.back() == '\\' || name.rfind("BAK\\", 0) == 0) continue;
                    auto at = ended.find(name), backup = ended.find("BAK\\" + name);
                    EXPECT_TRUE((at != ended.end() && at->second == content) ||
                                (backup != ended.end() && backup->second == content))
                        << name;
                }
                SetRegistryValue(kKey, "Installed", TextBytes("yes"));
                EXPECT_EQ(kOk, Run(stream));
                EXPECT_EQ(patched, ReadTree(target));
            }
        }
    }
    std::string streamDir;
};

TEST_F(Interrupted, RunEndedAfterAnyStepIsFinishedByTheNextRun) {
    EndAfterEveryStep(Stream(), kOldTree, NewTree(),
                      {{RunStep::kSetAside, 2},         // a, o
                       {RunStep::kMovedIntoBackup, 4},  // a, r, o, b
                       {RunStep::kMovedIntoPlace, 4},   // a, n, r, b
                       {RunStep::kStamped, 2},          // a, b
                       {RunStep::kRestored, 5}});       // rolled back: a, n, r, o, b
}

std::string gHeldPath;
HANDLE gHeldPlacedFile = 0;

// Another program opens a.txt as soon as it is in place.
void HoldFirstPlacedFile(RunStep step) {
    if (step == RunStep::kMovedIntoPlace && !gHeldPlacedFile) {
        gHeldPlacedFile = OpenForRead(gHeldPath);
    }
}

// Decision: a rollback step that fails is reported (message 30: close the
// programs, apply again), and the next run finishes the job.
TEST_F(Interrupted, RollbackThatCannotPutAFileBackSaysSoAndTheNextRunFinishes) {
    Reset(kOldTree);
    DeleteRegistryKey(kKey);
    gHeldPath = At("a.txt");
    gHeldPlacedFile = 0;
    gRunStepHook = HoldFirstPlacedFile;
    EXPECT_EQ(kTargetNotRegistered, Run(Stream()));
    gRunStepHook = nullptr;
    ASSERT_NE(HANDLE(0), gHeldPlacedFile);
    CloseFile(gHeldPlacedFile);
    EXPECT_EQ(1, LogCount(30));
    EXPECT_EQ(TextBytes("a new"), ReadFileBytes(At("a.txt")));
    SetRegistryValue(kKey, "Installed", TextBytes("yes"));
    EXPECT_EQ(kOk, Run(Stream()));
    EXPECT_EQ(NewTree(), ReadTree(target));
}

void LoseStagedFile(RunStep step) {
    if (step == RunStep::kMovedIntoPlace) DeleteFileForced(gHeldPath);
}

// Decision: a staged file that has gone when the apply pass reaches it is a
// failure (message 6) undone by the rollback, never a file passed over.
TEST_F(Interrupted, StagedFileGoneBeforeItsMoveFailsAndRollsBack) {
    Reset(kOldTree);
    gHeldPath = At("PATCH0.TMP\\n.txt");
    gRunStepHook = LoseStagedFile;
    EXPECT_EQ(kStagedFileLost, Run(Stream()));
    gRunStepHook = nullptr;
    EXPECT_EQ(1, LogCount(kStagedFileLost));
    FileTree old = kOldTree;
    old["sub\\"] = old["BAK\\"] = {};
    EXPECT_EQ(old, ReadTree(target));
}

// Decision: a staging directory that an interrupted run of this patch left
// goes at the next run, whatever its attributes; one that holds anything
// else stays as it is. Files that wait for the restart stop the run before
// it changes anything: the restart comes first.
TEST_F(Interrupted, LeftoverStagingGoesOnlyWhenItHoldsThisPatchsWorkAlone) {
    const FileTree work = {{"PATCH0.TMP\\a.txt", TextBytes("half written")},
                           {"PATCH0.TMP\\BINTMP1.TMP", TextBytes("step")},
                           {"PATCH0.TMP\\sub\\b.txt", {}},
                           {"PATCH0.TMP\\PATCH0.TMP\\o.txt", TextBytes("o older")}};
    // extra (a further file in the leftover, or none), attributes, pendingRename, removed
    const std::tuple<const char*, DWORD, bool, bool> cases[] = {
        {nullptr, FILE_ATTRIBUTE_DIRECTORY, false, true},
        {nullptr, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, false, true},
        {"PATCH0.TMP\\notes.txt", FILE_ATTRIBUTE_DIRECTORY, false, false},
        {"PATCH0.TMP\\PATCH0.TMP\\x.txt", FILE_ATTRIBUTE_DIRECTORY, false, false},
        {nullptr, FILE_ATTRIBUTE_DIRECTORY, true, false}};
    for (const auto& [extra, attributes, pendingRename, removed] : cases) {
        SCOPED_TRACE(std::string(extra ? extra : "") + std::to_string(attributes) +
                     std::to_string(pendingRename));
        FileTree before = kOldTree;
        before.insert(work.begin(), work.end());
        if (extra) before[extra] = TextBytes("someone's");
        Reset(before);
        SetFileAttributesA(At("PATCH0.TMP").c_str(), attributes);
        if (pendingRename) {
            ASSERT_TRUE(MoveFileExA(At("PATCH0.TMP\\a.txt").c_str(), At("a.txt").c_str(),
                                    MOVEFILE_DELAY_UNTIL_REBOOT));
        }
        const FileTree leftover = ReadTree(At("PATCH0.TMP"));
        const FileTree unchanged = ReadTree(target);
        SetRegistryValue(kKey, "Installed", TextBytes("yes"));
        EXPECT_EQ(pendingRename ? kFileInUse : kOk, Run(Stream()));
        const FileTree after = ReadTree(target);
        if (pendingRename) {
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE,
                               "SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                               "PendingFileRenameOperations");
        }
        FileTree expected = pendingRename ? unchanged : NewTree();
        if (!removed && !pendingRename) {
            expected["PATCH0.TMP\\"] = {};
            for (const auto& [name, content] : leftover) expected["PATCH0.TMP\\" + name] = content;
        }
        SetFileAttributesA(At("PATCH0.TMP").c_str(), FILE_ATTRIBUTE_NORMAL);
        EXPECT_EQ(expected, after);
    }
}

// The builder's own patch for a file that becomes a directory, and the
// reverse; the new file is a delta from the retired one, so a run after an
// ended one finds its source in the backup.
Bytes TradeStream(const Tree& older, const Tree& newer) {
    PatchSettings settings;
    settings.backupName = kBackup;
    settings.registryCheck = {kCurrentUserRoot, kKey, "Installed"};
    settings.registry = {RegKey{kCurrentUserRoot, kKey, {RegValue{"Written", 1, TextBytes("w")}}}};
    PatchContents contents;
    std::string error;
    EXPECT_TRUE(BuildAndRead({older}, newer, settings, &contents, &error)) << error;
    EXPECT_EQ(RecordKind::kObsolete, contents.records.front().kind);
    return contents.payload;  // no texts: the payload is the record stream
}

FileTree Windows(const Tree& tree) {
    FileTree files;
    for (const auto& [name, file] : tree) {
        std::string path = name;
        for (char& c : path) c = c == '/' ? '\\' : c;
        files[path] = file.content;
    }
    return files;
}

// Applied, then applied again (already new); undone exactly when the run
// fails after its moves; finished by the next run when a run ends after any
// move of the apply pass or of the rollback.
TEST_F(Interrupted, FileAndDirectoryTradePlacesAndBack) {
    const Bytes old = PseudoRandomBytes(3000, 7), deep = TextBytes("deep old");
    const Bytes fresh = ScatteredChange(old, 500);
    struct Case {
        Tree older, newer;
        FileTree patched;
        int moves[3];  // into the backup, into place, restored
    };
    // clang-format off
    const Case cases[] = {
        {{{"x", {old}}, {"keep.txt", {deep}}}, {{"x/in.txt", {fresh}}, {"keep.txt", {deep}}},
         {{"keep.txt", deep}, {"x\\", {}}, {"x\\in.txt", fresh}, {"BAK\\", {}}, {"BAK\\x", old}}, {1, 1, 2}},
        {{{"x/in.txt", {old}}, {"x/s/deep.txt", {deep}}, {"keep.txt", {deep}}}, {{"x", {fresh}}, {"keep.txt", {deep}}},
         {{"keep.txt", deep}, {"x", fresh}, {"BAK\\", {}}, {"BAK\\x\\", {}}, {"BAK\\x\\in.txt", old},
          {"BAK\\x\\s\\", {}}, {"BAK\\x\\s\\deep.txt", deep}}, {2, 1, 3}},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newer.begin()->first);
        const Bytes stream = TradeStream(c.older, c.newer);
        Reset(Windows(c.older));
        const FileTree before = ReadTree(target);
        DeleteRegistryKey(kKey);
        EXPECT_EQ(kTargetNotRegistered, Run(stream));
        EXPECT_EQ(before, ReadTree(target));
        EndAfterEveryStep(stream, Windows(c.older), c.patched,
                          {{RunStep::kMovedIntoBackup, c.moves[0]},
                           {RunStep::kMovedIntoPlace, c.moves[1]},
                           {RunStep::kRestored, c.moves[2]}});
        Reset(Windows(c.older));
        SetRegistryValue(kKey, "Installed", TextBytes("yes"));
        EXPECT_EQ(kOk, Run(stream));
        EXPECT_EQ(c.patched, ReadTree(target));
        EXPECT_EQ(kOk, Run(stream));
        EXPECT_EQ(1, LogCount(MessageId::kAlreadyNew));
        EXPECT_EQ(c.patched, ReadTree(target));
    }
}

}  // namespace
