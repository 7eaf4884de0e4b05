#include <gtest/gtest.h>
#include <windows.h>

#include <thread>

#include "tools/driver/window_probe.h"
#include "tests/ui/ui_test_support.h"
#include "ui/apply_action.h"

namespace {

TEST(BrowseStartText, NamesTheDirectoryEntryAndNeverOverflows) {
    const std::string fits(kBrowseBufferSize - 1, 'x');
    const std::string cases[][2] = {
        {".", ".\\."},
        {".\\", ".\\."},
        {"C:\\Games\\", "C:\\Games\\."},
        {"C:\\Games\\tale.exe", "C:\\Games\\tale.exe"},
        {"..", ".."},
        {fits, fits},
        {fits + "x", ""},
        // The added "." would leave no room for the terminator.
        {std::string(kBrowseBufferSize - 2, 'x') + "\\", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(BrowseStartText(c[0]), c[1]) << c[0];
}

// Runs Browse while a second thread answers the dialog like a person: with
// the file to choose, or cancelling when it is empty.
void BrowseAnswering(WindowHost& host, const std::string& choice) {
    std::thread person([&] {
        const HWND dialog =
            WaitForMessageBox(GetCurrentProcessId(), "選擇要套用中文化檔的目標檔案：").box;
        if (dialog)
            choice.empty() ? AnswerBox(dialog, IDCANCEL) : ChooseInFileDialog(dialog, choice);
    });
    BrowseForTarget(host);
    person.join();
}

// Choosing through the dialog is also driven end to end; here: what it must
// leave alone.
TEST(BrowseDialog, CancelChangesNothingAndChoosingKeepsTheCurrentDirectory) {
    OpenedPatch patch;
    WindowHost host(patch);
    ASSERT_NE(CreateTestMainWindow(host), nullptr);
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string directory = temp + std::string("ui-browse-test"),
                      file = directory + "\\tale.exe";
    CreateDirectoryA(directory.c_str(), nullptr);
    CloseHandle(CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, 0));
    char before[MAX_PATH] = {}, after[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, before);

    SetControlText(gWindow.pathEdit, "C:\\elsewhere");
    host.requestedTargetPath = "C:\\requested";
    EnableWindow(gWindow.applyButton, FALSE);
    BrowseAnswering(host, "");
    EXPECT_EQ(GetControlText(gWindow.pathEdit), "C:\\elsewhere");
    EXPECT_EQ(host.requestedTargetPath, "C:\\requested");
    EXPECT_TRUE(IsWindowEnabled(gWindow.applyButton));  // back to idle

    BrowseAnswering(host, file);
    EXPECT_EQ(GetControlText(gWindow.pathEdit), file);
    EXPECT_EQ(host.requestedTargetPath, file);
    GetCurrentDirectoryA(MAX_PATH, after);
    EXPECT_STREQ(after, before);
    DeleteFileA(file.c_str());
    RemoveDirectoryA(directory.c_str());
    DestroyTestMainWindow();
}

}  // namespace
