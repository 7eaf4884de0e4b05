// Files in use: the run queues the remaining moves, offers the restart, and
// after Windows starts again the target is the new one. The 9x family is run
// in a helper process that Wine reports as Windows 98.
#include "tests/engine/engine_test_fixture.h"

namespace {

const char kHelperVersionKey[] = "Software\\Wine\\AppDefaults\\engine_run_helper.exe";
const FileTree kOldTree = {{"a.txt", TextBytes("a old")},
                           {"b.txt", TextBytes("b old, the file in use")},
                           {"c.txt", TextBytes("c old")},
                           {"o.txt", TextBytes("o")}};
const Bytes kNew[] = {TextBytes("a new"), TextBytes("b new"), TextBytes("c new")};

class Deferred : public EngineRun {
  protected:
    void SetUp() override {
        EngineRun::SetUp();
        SetRegistryValue(kKey, "Installed", TextBytes("yes"));
        WriteTree(target, kOldTree);
    }
    // The registry record checks for checkedValue.
    static Bytes Stream(const char* checkedValue = "Installed") {
        OneSection s;
        for (int k = 0; k < 3; ++k) {
            const std::string name = std::string(1, 'a' + k) + ".txt";
            s.w.Changed(ChangeOf(name, {kOldTree.at(name)}, kNew[k]));
        }
        s.w.NewFile("n.txt", TextBytes("n"));
        s.w.Obsolete("o.txt");
        RegistryScriptWriter script(kCurrentUserRoot, kKey, checkedValue);
        script.OpenKey(kCurrentUserRoot, kKey);
        script.SetValue("Written", REG_BINARY, TextBytes("w"));
        s.w.Registry(script.Finish());
        return s.Finish();
    }
    // b.txt held open, as a running program holds its own image: others may
    // read it, nobody may move or delete it.
    HANDLE HoldB() { return OpenForRead(At("b.txt")); }
    static FileTree NewTree() {
        FileTree tree = {{"a.txt", kNew[0]},        {"b.txt", kNew[1]},   {"c.txt", kNew[2]},
                         {"n.txt", TextBytes("n")}, {"PATCH0.TMP\\", {}}, {"BAK\\", {}}};
        for (const auto& [name, content] : kOldTree) tree["BAK\\" + name] = content;
        return tree;
    }
    // A fresh window whose user takes the restart, which Windows then begins.
    void AnswerRestartYes() {
        host = FakeHost();
        host.answerYes = true;
        gRestart = RestartAnswer{};
        gRestart.succeeds = TRUE;
    }
    // After the restart, with every queued move carried out; the staging
    // directory stays behind empty.
    void ExpectAfterRestart(const FileTree& expected) {
        RunProgram("wineboot.exe -r");
        EXPECT_EQ(expected, ReadTree(target));
    }
};

// "File in use" is the result only when the restart is under way (here);
// otherwise the run ends as "restart not done" (the 9x run), moves still
// queued. The registry values are written before the restart is offered; a
// run that fails there (or at any later step) withdraws what it queued and
// rolls back, so the restart installs nothing. Older backups (the second
// patch of a series) are replaced at the restart.
TEST_F(Deferred, NtFamilyQueuesRenamesAndRestartCompletesThePatch) {
    const std::tuple<bool, const char*, int> cases[] = {{false, "Installed", kFileInUse},
                                                        {true, "Installed", kFileInUse},
                                                        {true, "Missing", kTargetNotRegistered}};
    for (const auto& [olderBackups, checkedValue, result] : cases) {
        SCOPED_TRACE(std::to_string(olderBackups) + checkedValue);
        FileTree before = kOldTree;
        if (olderBackups) {
            for (const char* name : {"a.txt", "b.txt", "o.txt"}) {
                before[std::string("BAK\\") + name] = TextBytes("older");
            }
        }
        Reset(before);
        before = ReadTree(target);
        DeleteRegistryKey(kKey);
        SetRegistryValue(kKey, "Installed", TextBytes("yes"));
        AnswerRestartYes();
        const bool fails = result != kFileInUse;
        {
            ScopedFile held(HoldB());
            ASSERT_TRUE(held);
            ASSERT_EQ(result, Run(Stream(checkedValue)));
            EXPECT_EQ(fails ? 0 : 1, gRestart.restarts);
            EXPECT_EQ(fails ? 0 : 1, host.questions);
            EXPECT_EQ(0, LogCount(kFileInUse));
            // Until the restart: a is done, b and the rest wait.
            EXPECT_EQ(fails ? kOldTree.at("a.txt") : kNew[0], ReadTree(target)["a.txt"]);
            EXPECT_EQ(kOldTree.at("b.txt"), ReadTree(target)["b.txt"]);
            EXPECT_EQ(fails ? kMissing : TextBytes("w"), RegistryValue(kKey, "Written"));
        }
        ExpectAfterRestart(fails ? before : NewTree());
    }
}

// A second run before the restart, after the question was declined (a run
// ended before the question leaves the same queue): it finds its target in
// the queue, changes nothing and asks for the restart first, which then
// completes the first run with every original in the backup. Run twice, the
// queued move into the backup would have put a new file over the only copy
// of an original. The 9x family queues in WININIT.INI: absolute names though
// the target was relative, and no move into the backup for a new file.
TEST_F(Deferred, SecondRunBeforeTheRestartWaitsForIt) {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string wininit = std::string(windows) + "\\WININIT.INI";
    const std::string streamDir = MakeScratchDirectory("stream");
    WriteTree(streamDir, {{"stream.bin", Stream()}});
    for (const bool nineX : {false, true}) {
        SCOPED_TRACE(nineX ? "9x family" : "NT family");
        Reset(kOldTree);
        DeleteFileA(wininit.c_str());
        DeleteFileA((std::string(windows) + "\\wininit.bak").c_str());
        if (nineX) SetRegistryValue(kHelperVersionKey, "Version", TextBytes("win98"));
        // The helper runs as Windows 98 or, like the test, as the NT family;
        // the first run's target is ".", its current directory.
        auto run = [&](const std::string& path) {
            return RunProgram("\"" + ProgramDirectory() + "\\engine_run_helper.exe\" \"" +
                                  streamDir + "\\stream.bin\" \"" + path + "\"",
                              target.c_str());
        };
        {
            ScopedFile held(HoldB());
            ASSERT_TRUE(held);
            ASSERT_EQ(static_cast<DWORD>(kRestartNotDone), run("."));
        }
        char section[8192] = {};
        const DWORD length =
            GetPrivateProfileSectionA("rename", section, sizeof section, wininit.c_str());
        // b, c and o leave for the backup, b, c and n arrive.
        int entries = 0;
        for (const char* entry = section; entry < section + length && *entry;
             entry += strlen(entry) + 1, ++entries) {
            SCOPED_TRACE(entry);
            const std::string text = entry;
            EXPECT_NE(INVALID_FILE_ATTRIBUTES,
                      GetFileAttributesA(text.substr(text.find('=') + 1).c_str()));
            EXPECT_EQ(std::string::npos, text.find("BAK\\n.txt"));
            EXPECT_EQ(':', text[1]);
        }
        EXPECT_EQ(nineX ? 6 : 0, entries);
        // Asked for by its relative or its full name, the target is found.
        const FileTree waiting = ReadTree(target);
        for (const std::string& again : {std::string("."), target}) {
            SCOPED_TRACE(again);
            EXPECT_EQ(static_cast<DWORD>(kFileInUse), run(again));
            EXPECT_EQ(waiting, ReadTree(target));
        }
        if (!nineX) {
            host = FakeHost();
            EXPECT_EQ(kFileInUse, Run(Stream()));
            EXPECT_EQ(1, LogCount(kFileInUse));
            EXPECT_EQ(0, host.questions);
            EXPECT_EQ(waiting, ReadTree(target));
        }
        DeleteRegistryKey(kHelperVersionKey);
        ExpectAfterRestart(NewTree());
    }
    RemoveTree(streamDir);
}

// Windows' moves at its start make no directory and remove none. A new file
// in a directory of its own waits for the restart in a directory made now; a
// file and a directory that trade places cannot wait when what clears the
// place is in use: the run fails (message 30), undoes its work and leaves
// nothing queued.
TEST_F(Deferred, QueuedMovesFindTheirDirectories) {
    // tree, heldName, retired (written first), newFile, result
    const std::tuple<FileTree, const char*, std::vector<std::string>, const char*, int> cases[] = {
        {{{"x", TextBytes("x old")}}, "x", {"x"}, "x\\in.txt", kMoveFailed},
        // clang-format off
        {{{"x\\", {}}, {"x\\in.txt", TextBytes("in old")}}, "x\\in.txt", {"x\\in.txt"}, "x", kMoveFailed},
        // clang-format on
        {kOldTree, "b.txt", {}, "d\\n.txt", kFileInUse},
    };
    for (const auto& [tree, heldName, retired, newFile, result] : cases) {
        SCOPED_TRACE(newFile);
        Reset(tree);
        const FileTree before = ReadTree(target);
        OneSection s;
        for (const std::string& name : retired) s.w.Obsolete(name);
        if (tree.count("b.txt")) s.w.Changed(ChangeOf("b.txt", {kOldTree.at("b.txt")}, kNew[1]));
        s.w.NewFile(newFile, TextBytes("n"));
        AnswerRestartYes();
        {
            ScopedFile held(OpenForRead(At(heldName)));
            ASSERT_TRUE(held);
            EXPECT_EQ(result, Run(s.Finish()));
        }
        EXPECT_EQ(result == kFileInUse ? 1 : 0, host.questions);
        RunProgram("wineboot.exe -r");
        const FileTree after = ReadTree(target);
        if (result == kFileInUse) {
            EXPECT_EQ(TextBytes("n"), after.at(newFile));
            EXPECT_EQ(kNew[1], after.at("b.txt"));
        } else {
            // The files as they were; the backup directories made for the
            // withdrawn queue may stay, empty.
            EXPECT_EQ(1, LogCount(kMoveFailed));
            FileTree files = after;
            for (auto it = files.begin(); it != files.end();) {
                it = it->first.back() == '\\' && !before.count(it->first) ? files.erase(it) : ++it;
            }
            EXPECT_EQ(before, files);
        }
    }
}

}  // namespace
