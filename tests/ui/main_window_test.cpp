#include <gtest/gtest.h>
#include <windows.h>

#include "tools/driver/window_probe.h"
#include "tests/ui/ui_test_support.h"

namespace {

class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        window_ = CreateTestMainWindow(host_);
        ASSERT_NE(window_, nullptr);
        InstallMessageBoxHook(IDNO);
    }
    void TearDown() override { DestroyTestMainWindow(); }
    void Command(HWND control) {
        SendMessageA(window_, WM_COMMAND, 0, reinterpret_cast<LPARAM>(control));
    }
    void SysChar(char letter) { SendMessageA(window_, WM_SYSCHAR, letter, 0); }
    OpenedPatch patch_;
    WindowHost host_{patch_};
    HWND window_ = 0;
};

TEST_F(MainWindowTest, InfoAndAltLettersActWhenAllowed) {
    SetNoticeText("notice text");
    // letter (0: the info button), running, boxes
    const std::tuple<char, bool, size_t> cases[] = {
        {'i', false, 1}, {'I', false, 0}, {'i', true, 0}, {'x', false, 0}, {0, true, 1}};
    for (const auto& [letter, running, boxes] : cases) {
        InstallMessageBoxHook(IDOK);
        host_.runInProgress = running;
        letter ? SysChar(letter) : Command(gWindow.infoButton);
        ASSERT_EQ(gBoxes.size(), boxes) << letter;
        if (boxes) {
            EXPECT_EQ(gBoxes[0].owner, window_);
            EXPECT_EQ(gBoxes[0].text, "notice text");
        }
    }
    // Apply with an empty path box does nothing.
    SendMessageA(gWindow.logPane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("earlier entry"));
    host_.requestedTargetPath = "C:\\earlier";
    host_.runInProgress = false;
    SysChar('a');
    Command(gWindow.applyButton);
    EXPECT_EQ(SendMessageA(gWindow.logPane, LB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(host_.requestedTargetPath, "C:\\earlier");
    EXPECT_FALSE(host_.runInProgress);
    // Commands from unknown or missing controls are ignored.
    gWindow.infoButton = 0;  // as if it could not be made
    Command(0);
    Command(gWindow.logPane);
    EXPECT_EQ(gBoxes.size(), 1u);
    // Exit is refused during a run and honoured while idle.
    host_.runInProgress = true;
    SysChar('e');
    EXPECT_TRUE(IsWindow(window_));
    host_.runInProgress = false;
    SysChar('e');
    EXPECT_FALSE(IsWindow(window_));
}

// Questions are true only for yes. Closing during a run asks, stops the run
// on yes and never closes the window then; texts and the yes path are also
// checked end to end.
TEST_F(MainWindowTest, QuestionsAndCloseDuringARunHonourOnlyYes) {
    for (int answer : {IDYES, IDNO, IDCANCEL, 0}) {
        InstallMessageBoxHook(answer);
        EXPECT_EQ(host_.AskYesNo("question", "caption"), answer == IDYES);
        host_.runInProgress = true;
        host_.stopRequested = false;
        SendMessageA(window_, WM_CLOSE, 0, 0);
        ASSERT_EQ(gBoxes.size(), 2u);
        EXPECT_EQ(gBoxes[0].text + "|" + gBoxes[0].caption, "question|caption");
        for (const BoxSeen& box : gBoxes) EXPECT_EQ(box.owner, window_);
        EXPECT_EQ(host_.stopRequested, answer == IDYES);
        EXPECT_TRUE(IsWindow(window_));
    }
    InstallMessageBoxHook(IDYES);
    host_.runInProgress = false;
    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gBoxes.empty());
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(MainWindowTest, ControlTextsDropALeadingDotBackslashAndStayInTheirBuffer) {
    const char* cases[][2] = {{".\\", ""}, {".\\app", "app"}, {".", "."}, {"..\\a", "..\\a"}};
    for (auto& c : cases) {
        SetControlText(gWindow.pathEdit, c[0]);
        EXPECT_EQ(GetControlText(gWindow.pathEdit), c[1]);
    }
    SetWindowTextA(gWindow.pathEdit, std::string(1500, 'x').c_str());
    EXPECT_EQ(GetControlText(gWindow.pathEdit).size(), 997u);
}

// Clearing an old stop request and the states after a run are checked end to
// end; the cursor is the hourglass over every control during a run.
TEST_F(MainWindowTest, BusyStateLocksTheButtonsAndShowsTheHourglass) {
    auto cursor = [&] {
        SendMessageA(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(gWindow.pathEdit),
                     MAKELPARAM(HTCLIENT, WM_MOUSEMOVE));
        return GetCursor();
    };
    host_.SetBusy(BusyState::kRunning);
    EXPECT_TRUE(host_.runInProgress);
    EXPECT_FALSE(IsWindowEnabled(gWindow.exitButton) || IsWindowEnabled(gWindow.applyButton));
    EXPECT_EQ(cursor(), LoadCursorA(nullptr, IDC_WAIT));
    host_.SetBusy(BusyState::kIdle);
    EXPECT_TRUE(!host_.runInProgress && IsWindowEnabled(gWindow.exitButton));
    EXPECT_FALSE(IsWindowEnabled(gWindow.applyButton));  // empty path box
    EXPECT_EQ(cursor(), LoadCursorA(nullptr, IDC_ARROW));
    SetWindowTextA(gWindow.pathEdit, "C:\\app");
    host_.SetBusy(BusyState::kIdle);
    EXPECT_TRUE(IsWindowEnabled(gWindow.applyButton));
}

TEST(WindowServices, DescriptionDisplayFormIsCutToItsBuffer) {
    std::string breaks;
    for (int i = 0; i < 667; ++i) breaks += "\r\r\n";  // 2,001 of 2,003 bytes
    struct Case {
        std::string text, display;
    } cases[] = {{"a\r\nb", "a\r\r\n\nb"},
                 {std::string(1002, '\x01'), breaks},
                 {std::string(2002, 'a') + "中", std::string(2002, 'a')},
                 {std::string(2003, 'a'), std::string(2003, 'a')}};
    for (const Case& c : cases) EXPECT_EQ(DescriptionDisplayForm(c.text.c_str()), c.display);
}

}  // namespace
