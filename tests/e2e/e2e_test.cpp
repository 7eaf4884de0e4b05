// The built patch executable, run under Wine as a person would run it.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "tests/e2e/patch_fixture.h"
#include "tools/driver/window_probe.h"

namespace {

const std::string kSuccessLine = "OK，中文化檔套用完成！";
const std::string kStopLine = "注意，使用者要求中斷。 檔案尚未全部完成更改，中文化檔無法套用：";
constexpr char kSessionManagerKey[] = "System\\CurrentControlSet\\Control\\Session Manager";
constexpr char kPendingRenames[] = "PendingFileRenameOperations";

std::string Checking(const std::string& name, const std::string& verdict) {
    return "＊ 準備更新目的檔案 [" + name + "] ====> " + verdict;
}

class PatchRun : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(ApplierPath().empty()) << "APPLIER_EXE is not set";
        root_ = MakeScratchDirectory(testing::UnitTest::GetInstance()->current_test_info()->name());
        target_ = root_ + "\\target";
        CreateDirectoryA(target_.c_str(), nullptr);
        exe_ = root_ + "\\PATCH.EXE";
        patch_.changes.push_back({"tale.exe", PseudoRandomBytes(20000, 1), {}});
        patch_.changes[0].newContent = ScatteredChange(patch_.changes[0].oldContent, 997);
        patch_.newFileName = "data\\readme.txt";
        patch_.newFileContent = TextBytes("new");  // in data\, beside the backup
    }
    void TearDown() override {
        app_.Kill();
        RemoveTree(root_);
    }

    void MakePatchAndTarget(const std::string& directory) {
        ASSERT_TRUE(WritePatchExecutable(exe_, patch_));
        CreateDirectoryA(directory.c_str(), nullptr);
        for (const FileChange& change : patch_.changes) {
            ASSERT_TRUE(WriteFileBytes(directory + "\\" + change.name, change.oldContent));
        }
    }
    void StartAndWaitForWindow(const std::string& arguments, const std::string& workingDirectory) {
        ASSERT_TRUE(app_.Start(exe_, arguments, workingDirectory));
        ASSERT_TRUE(app_.FindWindowAndControls());
    }
    std::vector<std::string> SuccessLog() const {
        std::vector<std::string> log = {"檢查中文化檔是否可以套用：" + std::string(16, ' '), ""};
        for (const FileChange& change : patch_.changes)
            log.push_back(Checking(change.name, "完成"));
        log.insert(log.end(), {Checking(patch_.newFileName, "完成"), "", kSuccessLine});
        return log;
    }
    // Patched: new contents, old ones in the backup; otherwise as it was.
    // Either way nothing else: no staging directory is left.
    void ExpectTarget(const std::string& directory, bool patched) const {
        FileTree expected;
        for (const auto& [name, oldContent, newContent] : patch_.changes) {
            expected[name] = patched ? newContent : oldContent;
            if (patched) expected["BACKUP\\" + name] = oldContent;
        }
        if (patched) {
            expected.insert({{"BACKUP\\", {}}, {"data\\", {}}});
            expected[patch_.newFileName] = patch_.newFileContent;
        }
        EXPECT_EQ(expected, ReadTree(directory));
    }
    void ExpectSuccessState() {
        EXPECT_EQ(app_.Log(), SuccessLog());
        EXPECT_FALSE(IsWindowVisible(app_.applyButton));
        EXPECT_FALSE(IsWindowEnabled(app_.browseButton));
        EXPECT_FALSE(IsWindowEnabled(app_.pathEdit));
        EXPECT_TRUE(IsWindowEnabled(app_.exitButton));
        EXPECT_EQ(ControlText(app_.exitButton), "離開");
    }
    void CloseAndExpectExitCode(DWORD expected) {
        app_.Close();
        EXPECT_EQ(app_.WaitForExit(), expected);
    }

    std::string root_, target_, exe_;
    TestPatch patch_;
    RunningPatch app_;
};

// Every way of naming the target on the command line patches it at once.
TEST_F(PatchRun, StartedAsAUserWouldItPatchesTheNamedTarget) {
    // the directory below the test's root, the argument (empty: none, started in the
    // directory), what the path box shows afterwards, the patch's description
    const std::string blanks = root_ + "\\my target dir";
    const std::tuple<const char*, std::string, std::string, const char*> cases[] = {
        {"target", "", ".", ""},
        {"target", target_, target_, "第一行\r第二行"},
        {"target", target_ + "\\tale.exe", target_ + "\\", ""},
        {"my target dir", "\"" + blanks + "\"", blanks, ""},
    };
    for (const auto& [below, argument, shown, described] : cases) {
        SCOPED_TRACE(argument);
        const std::string directory = root_ + "\\" + below;
        const bool noArgument = argument.empty();
        patch_.description = described;
        RemoveTree(directory);
        MakePatchAndTarget(directory);
        StartAndWaitForWindow(argument, noArgument ? directory : root_);
        ASSERT_TRUE(app_.WaitForRunEnd());
        ExpectSuccessState();
        EXPECT_EQ(ControlText(app_.pathEdit), shown);
        const bool withDescription = *described != '\0';
        EXPECT_EQ(IsWindowVisible(app_.descriptionEdit) != 0, withDescription);
        if (withDescription) {
            EXPECT_EQ(ControlText(app_.descriptionEdit), "第一行\r\r\n第二行");
            app_.Screenshot("success-with-description");
        } else if (noArgument) {
            app_.Screenshot("success");
        }
        CloseAndExpectExitCode(0);
        ExpectTarget(directory, true);
        app_.Kill();
    }
}

TEST_F(PatchRun, UsageBoxEndsWithCodeOneAndNoWindow) {
    MakePatchAndTarget(target_);
    // Which command lines are refused is the parser's own table; here the
    // real program shows the box for one of them.
    ASSERT_TRUE(app_.Start(exe_, "\"D:\\a b\" c", root_));
    const MessageBoxSeen box = WaitForMessageBox(app_.process.dwProcessId, "命令列參數");
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.text,
              "Usage: Patchname.exe [/quiet] [path]\r/quiet: no window; exit code 0 applied, "
              "3010 restart needed, 1603 failed\r");
    EXPECT_TRUE(TopLevelWindows(app_.process.dwProcessId, "Orvanel GUI").empty());
    AnswerBox(box.box, IDOK);
    EXPECT_EQ(app_.WaitForExit(), 1u);
    ExpectTarget(target_, false);
}

TEST_F(PatchRun, PayloadThatCannotBeOpenedShowsOneErrorBox) {
    ASSERT_TRUE(CopyFileA(ApplierPath().c_str(), exe_.c_str(), FALSE));
    ASSERT_TRUE(app_.Start(exe_, "", root_));
    const MessageBoxSeen box = WaitForMessageBox(app_.process.dwProcessId, "Error");
    ASSERT_NE(box.box, nullptr);
    EXPECT_EQ(box.text, "\r錯誤，[" + exe_ + "] 是不可讀取或非中文化檔。");
    for (HWND window : TopLevelWindows(app_.process.dwProcessId, "Orvanel GUI")) {
        EXPECT_FALSE(IsWindowVisible(window));
    }
    AnswerBox(box.box, IDOK);
    EXPECT_EQ(app_.WaitForExit(), 255u);
}

TEST_F(PatchRun, FailedRunThenBrowsedPathAndAltLettersPatch) {
    const std::string empty = root_ + "\\empty";
    CreateDirectoryA(empty.c_str(), nullptr);
    MakePatchAndTarget(target_);
    StartAndWaitForWindow(empty, root_);
    ASSERT_TRUE(app_.WaitForRunEnd());
    const std::vector<std::string> failed = app_.Log();
    ASSERT_FALSE(failed.empty());
    // The pane wraps the long line; joined, it names the folder.
    std::string joined;
    for (const std::string& line : failed) joined += line;
    const std::string notForIt = "錯誤，中文化檔不適用於 [" + empty + "]。";
    EXPECT_EQ(joined.substr(joined.size() - std::min(joined.size(), notForIt.size())), notForIt);
    for (HWND control : {app_.browseButton, app_.pathEdit, app_.applyButton}) {
        EXPECT_TRUE(IsWindowEnabled(control) && IsWindowVisible(control));
    }
    app_.Screenshot("failure");

    app_.AltLetter('b');
    const MessageBoxSeen dialog =
        WaitForMessageBox(app_.process.dwProcessId, "選擇要套用中文化檔的目標檔案：");
    ASSERT_NE(dialog.box, nullptr);
    ChooseInFileDialog(dialog.box, target_ + "\\tale.exe");
    ASSERT_TRUE(WaitUntil([&] { return ControlText(app_.pathEdit) == target_ + "\\tale.exe"; }));
    app_.Screenshot("idle");

    app_.AltLetter('a');
    ASSERT_TRUE(app_.WaitForRunEnd(failed));
    ExpectSuccessState();
    CloseAndExpectExitCode(0);
    ExpectTarget(target_, true);
    EXPECT_EQ(FileTree{}, ReadTree(empty));
}

// The pending renames of the registry (entries joined by '|'), read and put
// back after the test, whose queued moves must not outlive it.
class PendingRenames {
  public:
    PendingRenames() : saved_(Read()) {}
    ~PendingRenames() {
        if (!saved_.empty()) {
            RegSetKeyValueA(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, REG_MULTI_SZ,
                            saved_.data(), static_cast<DWORD>(saved_.size()));
        } else {
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames);
        }
    }
    static std::string Read() {  // empty when there is none
        DWORD size = 0;
        RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, RRF_RT_ANY, nullptr,
                     nullptr, &size);
        std::string value(size, '\0');
        if (size > 0) {
            RegGetValueA(HKEY_LOCAL_MACHINE, kSessionManagerKey, kPendingRenames, RRF_RT_ANY,
                         nullptr, &value[0], &size);
        }
        return value;
    }

  private:
    std::string saved_;
};

TEST_F(PatchRun, FileInUseQueuesRenamesAndAsksToRestart) {
    MakePatchAndTarget(target_);
    PendingRenames restoredAfterwards;
    const std::string held = target_ + "\\tale.exe";
    HANDLE inUse = CreateFileA(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
    ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
    StartAndWaitForWindow(target_, root_);
    const MessageBoxSeen question =
        WaitForMessageBox(app_.process.dwProcessId, "重新開機以使中文化檔生效");
    ASSERT_NE(question.box, nullptr);
    EXPECT_EQ(question.text,
              "\r有些檔案被中文化檔正被使用。 如果在檔案修正完成前重新開機，檔案將會不正常。 "
              "\r\r你確定要現在重新開機嗎？");
    AnswerBox(question.box, IDNO);
    ASSERT_TRUE(app_.WaitForRunEnd());
    EXPECT_NE(PendingRenames::Read().find(target_ + "\\PATCH0.TMP\\tale.exe"), std::string::npos);
    EXPECT_TRUE(IsWindowEnabled(app_.applyButton));
    CloseAndExpectExitCode(0);
    CloseHandle(inUse);
    // The rebuilt file waits in the staging area for the restart.
    EXPECT_EQ(ReadFileBytes(held), patch_.changes[0].oldContent);
    EXPECT_EQ(ReadFileBytes(target_ + "\\PATCH0.TMP\\tale.exe"), patch_.changes[0].newContent);
}

// "/quiet": no window is shown and no box waits for anyone; the exit code tells
// an administrator's script what happened.
TEST_F(PatchRun, UnattendedRunTellsItsOutcomeInTheExitCode) {
    // what, arguments, exitCode, holdFile (tale.exe in use: its move waits for the restart)
    const std::string missing = root_ + "\\elsewhere";
    const std::tuple<const char*, std::string, DWORD, bool> cases[] = {
        {"bad command line", "/quiet a b", 1639, false},
        {"no files of the patch", "/quiet \"" + missing + "\"", 1603, false},
        {"applied", target_ + " /quiet", 0, false},
        {"restart needed", "/QUIET " + target_, 3010, true},
        // The moves queued just above still wait: nothing is applied, and
        // that is a failure, not a restart that would finish the job.
        {"run again before the restart", "/quiet " + target_, 1603, false},
    };
    PendingRenames restoredAfterwards;
    for (const auto& [what, arguments, exitCode, holdFile] : cases) {
        SCOPED_TRACE(what);
        RemoveTree(target_);
        MakePatchAndTarget(target_);
        HANDLE inUse = INVALID_HANDLE_VALUE;
        if (holdFile) {
            inUse = CreateFileA((target_ + "\\tale.exe").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                nullptr, OPEN_EXISTING, 0, nullptr);
            ASSERT_NE(inUse, INVALID_HANDLE_VALUE);
        }
        ASSERT_TRUE(app_.Start(exe_, arguments, root_));
        EXPECT_EQ(app_.WaitForExit(), exitCode);
        for (HWND window : TopLevelWindows(app_.process.dwProcessId, "Orvanel GUI")) {
            EXPECT_FALSE(IsWindowVisible(window));
        }
        if (inUse != INVALID_HANDLE_VALUE) CloseHandle(inUse);
        if (exitCode == 3010) {
            EXPECT_NE(PendingRenames::Read().find(target_ + "\\PATCH0.TMP\\tale.exe"),
                      std::string::npos);
            EXPECT_EQ(ReadFileBytes(target_ + "\\PATCH0.TMP\\tale.exe"),
                      patch_.changes[0].newContent);
        } else {
            ExpectTarget(target_, exitCode == 0);
        }
        EXPECT_EQ(GetFileAttributesA(missing.c_str()), INVALID_FILE_ATTRIBUTES);
        app_.Kill();
    }
}

TEST_F(PatchRun, CloseDuringALongRunStopsItAndApplyRunsAgain) {
    // A large file with changes everywhere keeps the check pass busy long
    // enough for the close request to arrive during it.
    FileChange big{"big.bin", PseudoRandomBytes(8 << 20, 7), {}};
    big.newContent = ScatteredChange(big.oldContent, 250);
    patch_.changes.insert(patch_.changes.begin(), big);
    MakePatchAndTarget(target_);
    StartAndWaitForWindow(target_, root_);
    ASSERT_TRUE(WaitUntil([&] {
        const std::vector<std::string> log = app_.Log();
        return !log.empty() && log.back().find("[big.bin]") != std::string::npos;
    }));
    app_.Close();
    const MessageBoxSeen confirm = WaitForMessageBox(app_.process.dwProcessId, " 確認");
    ASSERT_NE(confirm.box, nullptr);
    EXPECT_EQ(confirm.text, "您確定要離開並停止工作嗎？！");
    app_.Screenshot("running");
    AnswerBox(confirm.box, IDYES);
    ASSERT_TRUE(app_.WaitForRunEnd());
    const std::vector<std::string> stopped = app_.Log();
    EXPECT_NE(std::find(stopped.begin(), stopped.end(), kStopLine), stopped.end());
    EXPECT_TRUE(IsWindow(app_.main));
    EXPECT_EQ(ControlText(app_.exitButton), "離開");
    ExpectTarget(target_, false);

    // The old request does not stop the new run.
    app_.Click(app_.applyButton);
    ASSERT_TRUE(app_.WaitForRunEnd(stopped));
    ExpectSuccessState();
    CloseAndExpectExitCode(0);
    ExpectTarget(target_, true);
}

}  // namespace
