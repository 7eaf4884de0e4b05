#include <gtest/gtest.h>
#include <windows.h>

#include "tests/ui/ui_test_support.h"
#include "ui/window_services.h"

namespace {

class MainWindowTest : public testing::Test {
  protected:
    void SetUp() override {
        window_ = CreateTestMainWindow();
        ASSERT_NE(window_, nullptr);
        InstallMessageBoxHook(IDNO);
    }
    void TearDown() override { DestroyTestMainWindow(); }

    static RECT ClientRectOf(HWND control) {
        RECT rect;
        GetWindowRect(control, &rect);
        MapWindowPoints(nullptr, gWindow.mainWindow, reinterpret_cast<POINT*>(&rect), 2);
        return rect;
    }
    void SysChar(char letter) { SendMessageA(window_, WM_SYSCHAR, letter, 0); }

    HWND window_ = 0;
};

TEST_F(MainWindowTest, BuildsEveryControlInItsPlace) {
    struct Expected {
        HWND WindowState::*control;
        const char* className;
        const char* text;
        LONG style;
        bool clientEdge;
        int x, y, width;
        bool visible;
    };
    const LONG button = WS_CHILD | BS_CENTER;
    const Expected expected[] = {
        {&WindowState::exitButton, "Button", " 取消", button, false, 519, 345, 65, true},
        {&WindowState::applyButton, "Button", " 套用", button, false, 449, 345, 65, true},
        {&WindowState::infoButton, "Button", " 資訊", button, false, 10, 345, 65, true},
        {&WindowState::browseButton, "Button", " 瀏覽", button, false, 519, 10, 65, true},
        {&WindowState::descriptionEdit, "Edit", "",
         WS_CHILD | WS_VSCROLL | ES_READONLY | ES_MULTILINE, true, 10, 25, 575, false},
        // The list box shows its scroll bars only when it needs them.
        {&WindowState::logPane, "ListBox", "", WS_CHILD | LBS_NOSEL, true, 9, 65, 575, true},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.className);
        SCOPED_TRACE(e.text);
        HWND control = gWindow.*e.control;
        ASSERT_NE(control, nullptr);
        char className[64] = {};
        GetClassNameA(control, className, sizeof(className));
        EXPECT_STRCASEEQ(className, e.className);
        char text[64] = {};
        GetWindowTextA(control, text, sizeof(text));
        EXPECT_STREQ(text, e.text);
        EXPECT_EQ(GetWindowLongA(control, GWL_STYLE) & e.style, e.style);
        EXPECT_EQ((GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) != 0, e.clientEdge);
        EXPECT_EQ(GetDlgCtrlID(control), 0);
        const RECT rect = ClientRectOf(control);
        EXPECT_EQ(rect.left, e.x);
        EXPECT_EQ(rect.top, e.y);
        EXPECT_EQ(rect.right - rect.left, e.width);
        EXPECT_EQ((GetWindowLongA(control, GWL_STYLE) & WS_VISIBLE) != 0, e.visible);
    }
    // The list keeps insertion order and the path box stops at its width.
    EXPECT_EQ(GetWindowLongA(gWindow.logPane, GWL_STYLE) & (LBS_SORT | LBS_NOTIFY), 0);
    EXPECT_EQ(GetWindowLongA(gWindow.pathEdit, GWL_STYLE) & ES_AUTOHSCROLL, 0);
    const RECT path = ClientRectOf(gWindow.pathEdit);
    EXPECT_EQ(path.top, 10);
    EXPECT_EQ(path.bottom - path.top, 25);
    EXPECT_EQ(path.right, 500);  // w + 25 + (475 - w)
}

TEST_F(MainWindowTest, DescriptionMovesThePathRowAndShrinksTheLog) {
    ShowDescription("line one\rline two");
    EXPECT_TRUE(IsWindowVisible(gWindow.descriptionEdit) ||
                (GetWindowLongA(gWindow.descriptionEdit, GWL_STYLE) & WS_VISIBLE));
    EXPECT_EQ(ClientRectOf(gWindow.pathEdit).top, 160);
    EXPECT_EQ(ClientRectOf(gWindow.browseButton).top, 160);
    EXPECT_EQ(ClientRectOf(gWindow.logPane).top, 215);
}

TEST_F(MainWindowTest, AltLettersActOnlyInLowerCaseAndWhileIdle) {
    SetNoticeText("notice text");
    struct Case {
        char letter;
        bool running;
        size_t boxes;
    };
    const Case cases[] = {{'i', false, 1}, {'I', false, 0}, {'i', true, 0}, {'x', false, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.letter);
        InstallMessageBoxHook(IDOK);
        gWindow.runInProgress = c.running;
        SysChar(c.letter);
        ASSERT_EQ(gBoxes.size(), c.boxes);
        if (c.boxes) {
            EXPECT_EQ(gBoxes[0].owner, window_);
            EXPECT_EQ(gBoxes[0].caption, "版權資訊");
            EXPECT_EQ(gBoxes[0].text, "notice text");
            EXPECT_EQ(gBoxes[0].type, static_cast<UINT>(MB_OK));
        }
    }
    gWindow.runInProgress = false;
    // Exit is refused during a run and honoured while idle.
    gWindow.runInProgress = true;
    SysChar('e');
    EXPECT_TRUE(IsWindow(window_));
    gWindow.runInProgress = false;
    SysChar('e');
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(MainWindowTest, InfoWorksDuringARun) {
    gWindow.runInProgress = true;
    SendMessageA(window_, WM_COMMAND, 0, reinterpret_cast<LPARAM>(gWindow.infoButton));
    EXPECT_EQ(gBoxes.size(), 1u);
    gWindow.runInProgress = false;
}

TEST_F(MainWindowTest, ApplyWithAnEmptyPathBoxDoesNothing) {
    SendMessageA(gWindow.logPane, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>("earlier entry"));
    gWindow.requestedTargetPath = "C:\\earlier";
    SysChar('a');
    SendMessageA(window_, WM_COMMAND, 0, reinterpret_cast<LPARAM>(gWindow.applyButton));
    EXPECT_EQ(SendMessageA(gWindow.logPane, LB_GETCOUNT, 0, 0), 1);
    EXPECT_EQ(gWindow.requestedTargetPath, "C:\\earlier");
    EXPECT_FALSE(gWindow.runInProgress);
}

TEST_F(MainWindowTest, CloseAsksOnlyDuringARunAndNeverClosesThen) {
    for (int answer : {IDNO, IDCANCEL, IDYES}) {
        SCOPED_TRACE(answer);
        InstallMessageBoxHook(answer);
        gWindow.runInProgress = true;
        gWindow.stopRequested = false;
        SendMessageA(window_, WM_CLOSE, 0, 0);
        ASSERT_EQ(gBoxes.size(), 1u);
        EXPECT_EQ(gBoxes[0].owner, window_);
        EXPECT_EQ(gBoxes[0].text, "您確定要離開並停止工作嗎？！");
        EXPECT_EQ(gBoxes[0].caption, " 確認");
        EXPECT_EQ(gBoxes[0].type, static_cast<UINT>(MB_YESNO | MB_ICONEXCLAMATION));
        EXPECT_EQ(gWindow.stopRequested, answer == IDYES);
        EXPECT_TRUE(IsWindow(window_));
    }
    InstallMessageBoxHook(IDYES);
    gWindow.runInProgress = false;
    SendMessageA(window_, WM_CLOSE, 0, 0);
    EXPECT_TRUE(gBoxes.empty());
    EXPECT_FALSE(IsWindow(window_));
}

TEST_F(MainWindowTest, CursorIsArrowOrHourglassEverywhere) {
    for (bool running : {false, true}) {
        gWindow.runInProgress = running;
        EXPECT_EQ(SendMessageA(window_, WM_SETCURSOR, reinterpret_cast<WPARAM>(gWindow.pathEdit),
                               MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)),
                  TRUE);
        EXPECT_EQ(GetCursor(), LoadCursorA(nullptr, running ? IDC_WAIT : IDC_ARROW));
    }
    gWindow.runInProgress = false;
}

TEST_F(MainWindowTest, CommandsFromUnknownOrMissingControlsAreIgnored) {
    gWindow.infoButton = 0;  // as if it could not be made
    SendMessageA(window_, WM_COMMAND, 0, 0);
    SendMessageA(window_, WM_COMMAND, 0, reinterpret_cast<LPARAM>(gWindow.logPane));
    EXPECT_TRUE(gBoxes.empty());
    EXPECT_TRUE(IsWindow(window_));
}

}  // namespace
