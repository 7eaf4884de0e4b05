#include "ui/window_services.h"

#include <gtest/gtest.h>

#include "tests/win/test_support.h"

namespace {

constexpr UINT kProbeMessage = WM_APP + 2;

class WindowServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HWND main = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 405, 0, 0, 0, 0);
        ASSERT_NE(main, HWND(0));
        gWindow.mainWindow = main;
        gWindow.exitButton = Child("BUTTON", 0);
        gWindow.applyButton = Child("BUTTON", 0);
        gWindow.browseButton = Child("BUTTON", 0);
        gWindow.pathEdit = Child("EDIT", 0);
        gWindow.descriptionEdit = Child("EDIT", ES_MULTILINE | ES_READONLY);
        gWindow.logPane = Child("LISTBOX", LBS_NOSEL | LBS_NOINTEGRALHEIGHT);
        ShowWindow(gWindow.descriptionEdit, SW_HIDE);
    }
    void TearDown() override {
        DestroyWindow(gWindow.mainWindow);
        gWindow = WindowState();
    }
    static HWND Child(const char* windowClass, DWORD style) {
        return CreateWindowExA(0, windowClass, "", WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
                               gWindow.mainWindow, 0, 0, 0);
    }
    static RECT ClientRect(HWND control) {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(HWND_DESKTOP, gWindow.mainWindow, reinterpret_cast<POINT*>(&r), 2);
        return r;
    }
};

TEST_F(WindowServicesTest, SetControlTextDropsALeadingDotBackslash) {
    struct Case {
        const char* text;
        const char* shown;
    };
    const Case cases[] = {
        {".\\", ""}, {".\\app", "app"}, {".", "."}, {"..\\app", "..\\app"}, {"C:\\app", "C:\\app"},
        {"", ""},
    };
    for (const Case& c : cases) {
        SetControlText(gWindow.pathEdit, c.text);
        EXPECT_EQ(GetControlText(gWindow.pathEdit), c.shown) << c.text;
    }
    SetControlText(0, "nothing happens");
    EXPECT_EQ(GetControlText(0), "");
}

TEST_F(WindowServicesTest, GetControlTextReturnsAtMost997Characters) {
    std::string longText(1500, 'x');
    SetWindowTextA(gWindow.descriptionEdit, longText.c_str());
    EXPECT_EQ(GetControlText(gWindow.descriptionEdit), std::string(997, 'x'));
}

TEST_F(WindowServicesTest, BusyStateLocksTheButtons) {
    gWindow.stopRequested = true;
    SetBusy(BusyState::kRunning);
    EXPECT_TRUE(gWindow.runInProgress);
    EXPECT_FALSE(gWindow.stopRequested);  // an old stop does not end a new run
    EXPECT_FALSE(IsWindowEnabled(gWindow.exitButton));
    EXPECT_FALSE(IsWindowEnabled(gWindow.applyButton));
    EXPECT_EQ(WindowText(gWindow.exitButton), "離開");

    SetBusy(BusyState::kIdle);
    EXPECT_FALSE(gWindow.runInProgress);
    EXPECT_TRUE(IsWindowEnabled(gWindow.exitButton));
    EXPECT_FALSE(IsWindowEnabled(gWindow.applyButton));  // the path box is empty

    SetWindowTextA(gWindow.pathEdit, "C:\\app");
    SetBusy(BusyState::kIdle);
    EXPECT_TRUE(IsWindowEnabled(gWindow.applyButton));
}

TEST_F(WindowServicesTest, LayoutMovesThePathRowAndTheLog) {
    LayoutControls(false);
    int w = TextWidth("套用至：");
    EXPECT_GT(w, 0);
    EXPECT_EQ(TextWidth(""), 0);
    struct Case {
        bool withDescription;
        int d;
    };
    for (const Case& c : {Case{false, 0}, Case{true, 150}}) {
        LayoutControls(c.withDescription);
        EXPECT_EQ(gWindow.layoutOffset, c.d);
        RECT log = ClientRect(gWindow.logPane);
        EXPECT_EQ(log.left, 9);
        EXPECT_EQ(log.top, c.d + 65);
        EXPECT_EQ(log.bottom - log.top, 275 - c.d);
        RECT path = ClientRect(gWindow.pathEdit);
        EXPECT_EQ(path.left, w + 25);
        EXPECT_EQ(path.top, c.d + 10);
        EXPECT_EQ(path.right - path.left, 475 - w);
        RECT browse = ClientRect(gWindow.browseButton);
        EXPECT_EQ(browse.left, 519);
        EXPECT_EQ(browse.top, c.d + 10);
    }
}

TEST_F(WindowServicesTest, ShowDescriptionShowsTheBoxAndItsLineBreaks) {
    auto shown = [] {
        return (GetWindowLongA(gWindow.descriptionEdit, GWL_STYLE) & WS_VISIBLE) != 0;
    };
    EXPECT_FALSE(shown());
    ShowDescription("line1\x01line2");
    EXPECT_TRUE(shown());
    EXPECT_EQ(gWindow.layoutOffset, 150);
    EXPECT_EQ(ClientRect(gWindow.logPane).top, 215);
    EXPECT_NE(WindowText(gWindow.descriptionEdit).find("line2"), std::string::npos);
}

TEST(DescriptionDisplay, LineBreaksAndTheSizeLimit) {
    struct Case {
        const char* name;
        std::string text;
        std::string display;
    };
    const std::string dense(1002, '\x01');
    const std::string chinese = std::string(2002, 'a') + "中";
    const Case cases[] = {
        {"single CR", "a\rb", "a\r\r\nb"},
        {"CR LF", "a\r\nb", "a\r\r\n\nb"},
        {"separator",
         "a\x01"
         "b",
         "a\r\r\nb"},
        // 667 whole line breaks fill 2,001 of the 2,003 bytes; no break is cut.
        {"dense with breaks", dense,
         [] {
             std::string s;
             for (int i = 0; i < 667; ++i) s += "\r\r\n";
             return s;
         }()},
        {"character across the limit", chinese + "x", std::string(2002, 'a')},
        {"fits exactly", std::string(2003, 'a'), std::string(2003, 'a')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DescriptionDisplayForm(c.text.c_str()), c.display) << c.name;
    }
}

TEST(WindowServices, NoticeTextIsCutToItsBuffer) {
    SetNoticeText("short notice");
    EXPECT_STREQ(gWindow.noticeText, "short notice");
    std::string longNotice = std::string(999, 'n') + "中";
    SetNoticeText(longNotice.c_str());
    EXPECT_EQ(std::string(gWindow.noticeText), std::string(999, 'n'));
    gWindow = WindowState();
}

TEST(WindowServices, QuitMetWhilePumpingIsKeptAndStopsThePump) {
    HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, 0, 0, 0, 0);
    PostMessageA(window, kProbeMessage, 0, 0);
    PostThreadMessageA(GetCurrentThreadId(), WM_QUIT, 7, 0);
    PostMessageA(window, kProbeMessage, 0, 0);
    PumpMessages();
    EXPECT_TRUE(gWindow.quitReceived);
    EXPECT_EQ(gWindow.quitCode, 7);
    MSG msg;
    // The message behind the quit is still waiting.
    EXPECT_TRUE(PeekMessageA(&msg, window, kProbeMessage, kProbeMessage, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&msg, window, kProbeMessage, kProbeMessage, PM_REMOVE));
    DestroyWindow(window);
    gWindow = WindowState();
}

}  // namespace
