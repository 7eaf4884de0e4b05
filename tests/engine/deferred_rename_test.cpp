// Files in use: the run queues the remaining moves, offers the restart, and
// after Windows starts again the target is the new one. The 9x family is run
// in a helper process that Wine reports as Windows 98.
#include "core/result_codes.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

const char kKey[] = "Software\\EngineTests\\Deferred";
const DWORD kWaitMs = 60000;

const Bytes kOldA = TextBytes("a old");
const Bytes kOldB = TextBytes("b old, the file in use");
const Bytes kOldC = TextBytes("c old");
const Bytes kNew[] = {TextBytes("a new"), TextBytes("b new"), TextBytes("c new")};

// Holds a file open in another process, as a running program would.
class HeldFile {
  public:
    explicit HeldFile(const std::string& path) {
        const std::string tag =
            std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
        const std::string readyName = "engine-hold-ready-" + tag;
        const std::string releaseName = "engine-hold-release-" + tag;
        ready_ = CreateEventA(nullptr, TRUE, FALSE, readyName.c_str());
        release_ = CreateEventA(nullptr, TRUE, FALSE, releaseName.c_str());
        process_ = StartProgram("\"" + ProgramDirectory() + "\\hold_file.exe\" \"" + path + "\" " +
                                readyName + " " + releaseName);
        held_ = process_ && WaitForSingleObject(ready_, kWaitMs) == WAIT_OBJECT_0;
    }
    ~HeldFile() { Release(); }
    bool held() const { return held_; }
    void Release() {
        if (!process_) return;
        SetEvent(release_);
        WaitForSingleObject(process_, kWaitMs);
        CloseHandle(process_);
        CloseHandle(ready_);
        CloseHandle(release_);
        process_ = 0;
    }

  private:
    HANDLE ready_ = 0;
    HANDLE release_ = 0;
    HANDLE process_ = 0;
    bool held_ = false;
};

void RestartWindows() {
    HANDLE boot = StartProgram("wineboot.exe -r");
    ASSERT_NE(nullptr, boot);
    WaitForSingleObject(boot, kWaitMs);
    CloseHandle(boot);
}

class Deferred : public EngineRun {
  protected:
    void SetUp() override {
        EngineRun::SetUp();
        SetRegistryString(kKey, "Installed", "yes");
        WriteTree(
            target,
            {{"a.txt", kOldA}, {"b.txt", kOldB}, {"c.txt", kOldC}, {"o.txt", TextBytes("o")}});
    }
    void TearDown() override {
        DeleteRegistryKey(kKey);
        EngineRun::TearDown();
    }
    static Bytes Stream() {
        OneSection s;
        s.w.Changed(ChangeOf("a.txt", {kOldA}, kNew[0]));
        s.w.Changed(ChangeOf("b.txt", {kOldB}, kNew[1]));
        s.w.Changed(ChangeOf("c.txt", {kOldC}, kNew[2]));
        s.w.NewFile("n.txt", TextBytes("n"));
        s.w.Obsolete("o.txt");
        RegistryScriptWriter script(kCurrentUserRoot, kKey, "Installed");
        script.OpenKey(kCurrentUserRoot, kKey);
        script.SetValue("Written", REG_BINARY, TextBytes("w"));
        s.w.Registry(script.Finish());
        return s.Finish();
    }
    // The tree once every queued move has been carried out; staging
    // directories are left out, they stay behind empty.
    FileTree TreeWithoutStaging() const {
        FileTree tree = ReadTree(target);
        for (auto it = tree.begin(); it != tree.end();) {
            it = it->first.rfind("PATCH", 0) == 0 ? tree.erase(it) : std::next(it);
        }
        return tree;
    }
    static FileTree NewTree() {
        return {{"a.txt", kNew[0]},        {"b.txt", kNew[1]},    {"c.txt", kNew[2]},
                {"n.txt", TextBytes("n")}, {"BAK\\", {}},         {"BAK\\a.txt", kOldA},
                {"BAK\\b.txt", kOldB},     {"BAK\\c.txt", kOldC}, {"BAK\\o.txt", TextBytes("o")}};
    }
};

TEST_F(Deferred, RestartAnswerDecidesTheResult) {
    struct Case {
        int answer;
        BOOL restartSucceeds;
        int result;
        int restarts;
    };
    const Case cases[] = {{IDNO, TRUE, kRestartNotDone, 0},
                          {IDYES, FALSE, kRestartNotDone, 1},
                          {IDYES, TRUE, kFileInUse, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer);
        RemoveTree(target);
        WriteTree(
            target,
            {{"a.txt", kOldA}, {"b.txt", kOldB}, {"c.txt", kOldC}, {"o.txt", TextBytes("o")}});
        gAnswers = HookAnswers{c.answer, c.restartSucceeds};
        HeldFile held(At("b.txt"));
        ASSERT_TRUE(held.held());
        EXPECT_EQ(c.result, Run(Stream()));
        EXPECT_EQ(1, gAnswers.questions);
        EXPECT_EQ(c.restarts, gAnswers.restarts);
        EXPECT_FALSE(LogHolds(kFileInUse));
    }
}

TEST_F(Deferred, NtFamilyQueuesRenamesAndRestartCompletesThePatch) {
    {
        HeldFile held(At("b.txt"));
        ASSERT_TRUE(held.held());
        ASSERT_EQ(kRestartNotDone, Run(Stream()));
        // Until the restart: a is done, b and the rest wait, no value written.
        EXPECT_EQ(kNew[0], ReadTree(target)["a.txt"]);
        EXPECT_EQ(kOldB, ReadTree(target)["b.txt"]);
        Bytes value;
        EXPECT_FALSE(ReadRegistryValue(kKey, "Written", &value));
    }
    RestartWindows();
    EXPECT_EQ(NewTree(), TreeWithoutStaging());
}

TEST_F(Deferred, NineXFamilyQueuesShortNamesInWininit) {
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    const std::string wininit = std::string(windows) + "\\WININIT.INI";
    DeleteFileA(wininit.c_str());
    DeleteFileA((std::string(windows) + "\\wininit.bak").c_str());
    SetRegistryString("Software\\Wine\\AppDefaults\\engine_run_helper.exe", "Version", "win98");
    const std::string streamFile = target + "-stream.bin";
    const std::string streamDir = MakeScratchDirectory("stream");
    WriteTree(streamDir, {{"stream.bin", Stream()}});
    {
        HeldFile held(At("b.txt"));
        ASSERT_TRUE(held.held());
        // The target is ".", the helper's current directory.
        HANDLE helper = StartProgram("\"" + ProgramDirectory() + "\\engine_run_helper.exe\" \"" +
                                         streamDir + "\\stream.bin\" .",
                                     target.c_str());
        ASSERT_NE(nullptr, helper);
        WaitForSingleObject(helper, kWaitMs);
        DWORD exitCode = 0;
        GetExitCodeProcess(helper, &exitCode);
        CloseHandle(helper);
        EXPECT_EQ(static_cast<DWORD>(kRestartNotDone), exitCode);
        char section[8192] = {};
        DWORD length =
            GetPrivateProfileSectionA("rename", section, sizeof section, wininit.c_str());
        // b, c and o leave for the backup, b, c and n arrive: n had no
        // earlier file, so its move into the backup is left out.
        int entries = 0;
        for (const char* entry = section; entry < section + length && *entry;
             entry += strlen(entry) + 1) {
            SCOPED_TRACE(entry);
            ++entries;
            std::string text = entry;
            std::string source = text.substr(text.find('=') + 1);
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(source.c_str()));
            EXPECT_EQ(std::string::npos, text.find("BAK\\n.txt"));
            EXPECT_EQ(':', text[1]);  // absolute, though the target was relative
        }
        EXPECT_EQ(6, entries);
    }
    DeleteRegistryKey("Software\\Wine\\AppDefaults\\engine_run_helper.exe");
    RestartWindows();
    EXPECT_EQ(NewTree(), TreeWithoutStaging());
    RemoveTree(streamDir);
}

}  // namespace
