#include "ui/window_services.h"

#include <gtest/gtest.h>

#include "tests/win/test_support.h"

namespace {

class WindowServicesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gWindow.mainWindow = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 405, 0, 0, 0, 0);
        for (HWND WindowState::*button :
             {&WindowState::exitButton, &WindowState::applyButton, &WindowState::browseButton})
            gWindow.*button = Child("BUTTON", 0);
        gWindow.pathEdit = Child("EDIT", 0);
        gWindow.descriptionEdit = Child("STATIC", 0);
        gWindow.logPane = Child("LISTBOX", LBS_NOINTEGRALHEIGHT);
    }
    void TearDown() override {
        DestroyWindow(gWindow.mainWindow);
        gWindow = WindowState();
    }
    static HWND Child(const char* windowClass, DWORD style) {
        return CreateWindowExA(0, windowClass, "", WS_CHILD | style, 0, 0, 9, 9, gWindow.mainWindow,
                               0, 0, 0);
    }
};

TEST_F(WindowServicesTest, ControlTextsDropALeadingDotBackslashAndStayInTheirBuffer) {
    const char* cases[][2] = {{".\\", ""}, {".\\app", "app"}, {".", "."}, {"..\\a", "..\\a"}};
    for (auto& c : cases) {
        SetControlText(gWindow.pathEdit, c[0]);
        EXPECT_EQ(GetControlText(gWindow.pathEdit), c[1]);
    }
    SetWindowTextA(gWindow.pathEdit, std::string(1500, 'x').c_str());
    EXPECT_EQ(GetControlText(gWindow.pathEdit).size(), 997u);
}

TEST_F(WindowServicesTest, BusyStateLocksTheButtonsAndClearsAnOldStop) {
    OpenedPatch patch;
    WindowHost host(patch);
    host.stopRequested = true;
    host.SetBusy(BusyState::kRunning);
    EXPECT_TRUE(host.runInProgress && !host.StopRequested());
    EXPECT_FALSE(IsWindowEnabled(gWindow.exitButton) || IsWindowEnabled(gWindow.applyButton));
    EXPECT_EQ(ControlText(gWindow.exitButton), "離開");
    host.SetBusy(BusyState::kIdle);
    EXPECT_TRUE(!host.runInProgress && IsWindowEnabled(gWindow.exitButton));
    EXPECT_FALSE(IsWindowEnabled(gWindow.applyButton));  // empty path box
    SetWindowTextA(gWindow.pathEdit, "C:\\app");
    host.SetBusy(BusyState::kIdle);
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
