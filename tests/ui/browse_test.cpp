#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "tests/e2e/window_probe.h"
#include "tests/ui/ui_test_support.h"
#include "ui/apply_action.h"
#include "ui/window_services.h"

namespace {

constexpr char kDialogTitle[] = "選擇要套用中文化檔的目標檔案：";

TEST(BrowseStartText, NamesTheDirectoryEntryAndNeverOverflows) {
    const std::string fits(kBrowseBufferSize - 1, 'x');
    const std::string tooLong(kBrowseBufferSize, 'x');
    const std::string directoryAtLimit = std::string(kBrowseBufferSize - 2, 'x') + "\\";
    struct Case {
        std::string pathText;
        std::string expected;
    };
    const Case cases[] = {
        {".", ".\\."},
        {".\\", ".\\."},
        {"C:\\Games\\", "C:\\Games\\."},
        {"C:\\Games\\tale.exe", "C:\\Games\\tale.exe"},
        {"C:\\Games", "C:\\Games"},
        {"..", ".."},
        {"", ""},
        {fits, fits},
        {tooLong, ""},
        // The added "." would leave no room for the terminator.
        {directoryAtLimit, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pathText);
        EXPECT_EQ(BrowseStartText(c.pathText), c.expected);
    }
}

class BrowseDialogTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_NE(CreateTestMainWindow(), nullptr);
        directory_ = TempPath("ui-browse-test");
        CreateDirectoryA(directory_.c_str(), nullptr);
        file_ = directory_ + "\\tale.exe";
        CloseHandle(CreateFileA(file_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0));
        GetCurrentDirectoryA(MAX_PATH, startDirectory_);
    }
    void TearDown() override {
        DeleteFileA(file_.c_str());
        RemoveDirectoryA(directory_.c_str());
        DestroyTestMainWindow();
    }

    // Runs Browse while a second thread answers the dialog like a person.
    void BrowseAnswering(const std::string& choice, bool cancel) {
        const DWORD self = GetCurrentProcessId();
        std::thread person([&] {
            HWND dialog = 0;
            WaitUntil([&] {
                for (HWND w : TopLevelWindows(self, "#32770")) {
                    if (ControlText(w) == kDialogTitle && IsWindowVisible(w)) dialog = w;
                }
                return dialog != 0;
            });
            if (!dialog) return;
            if (cancel) {
                CancelFileDialog(dialog);
            } else {
                ChooseInFileDialog(dialog, choice);
            }
        });
        BrowseForTarget();
        person.join();
    }

    std::string directory_;
    std::string file_;
    char startDirectory_[MAX_PATH] = {};
};

TEST_F(BrowseDialogTest, ChosenFileBecomesTheTargetAndTheDirectoryStays) {
    SetControlText(gWindow.pathEdit, ".");
    BrowseAnswering(file_, false);
    EXPECT_EQ(GetControlText(gWindow.pathEdit), file_);
    EXPECT_EQ(gWindow.requestedTargetPath, file_);
    EXPECT_TRUE(IsWindowEnabled(gWindow.applyButton));
    char now[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, now);
    EXPECT_STREQ(now, startDirectory_);
}

TEST_F(BrowseDialogTest, CancelChangesNothingButReturnsToIdle) {
    SetControlText(gWindow.pathEdit, "C:\\elsewhere");
    gWindow.requestedTargetPath = "C:\\requested";
    EnableWindow(gWindow.applyButton, FALSE);
    BrowseAnswering("", true);
    EXPECT_EQ(GetControlText(gWindow.pathEdit), "C:\\elsewhere");
    EXPECT_EQ(gWindow.requestedTargetPath, "C:\\requested");
    EXPECT_TRUE(IsWindowEnabled(gWindow.applyButton));
}

}  // namespace
