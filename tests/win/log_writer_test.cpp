#include "messages/log_writer.h"

#include <gtest/gtest.h>

#include "container/process_texts.h"
#include "core/result_codes.h"
#include "ui/window_services.h"

namespace {

using Lines = std::vector<std::string>;
std::vector<std::pair<UINT, WPARAM>> gSent;
WNDPROC gListBoxProc = nullptr;
int gProbesSeen = 0;
constexpr UINT kProbe = WM_APP + 1;

LRESULT CALLBACK RecordingListBox(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kProbe) return ++gProbesSeen;
    if (message == WM_SETREDRAW || message == LB_ADDSTRING || message == LB_DELETESTRING ||
        message == LB_SETTOPINDEX) {
        gSent.push_back({message, wParam});
    }
    return CallWindowProcA(gListBoxProc, window, message, wParam, lParam);
}

class LogWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gWindow.logPane =
            CreateWindowExA(0, "LISTBOX", "", WS_POPUP | LBS_NOSEL, 0, 0, 575, 275, 0, 0, 0, 0);
        gListBoxProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            gWindow.logPane, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingListBox)));
        ClearLog();
        gSent.clear();
    }
    void TearDown() override {
        ClearLog();
        DestroyWindow(gWindow.logPane);
        gWindow.logPane = 0;
    }
    static Lines Entries() {
        Lines entries(SendMessageA(gWindow.logPane, LB_GETCOUNT, 0, 0));
        char text[1024];
        for (size_t i = 0; i < entries.size(); ++i) {
            SendMessageA(gWindow.logPane, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            entries[i] = text;
        }
        return entries;
    }
};

TEST_F(LogWriterTest, WrapsAtSeventyEightBytesAndKeepsTheLastLineOpen) {
    const std::string line60 = std::string(59, 'a') + " ", w19(19, 'b'), w18(18, 'b');
    struct Case {
        std::string text;
        Lines expected;
    } cases[] = {
        {line60 + w19, {line60, w19}},
        {line60 + w18, {line60 + w18}},
        {line60 + "中文中文中文中文中文", {line60, "中文中文中文中文中文"}},  // 2 bytes each
        {std::string(90, 'w'), {"", std::string(90, 'w')}},
        {"ab\r\rx", {"ab", "", "x"}},
    };
    for (const Case& c : cases) {
        ClearLog();
        WriteLogText(c.text.c_str());
        EXPECT_EQ(Entries(), c.expected) << c.text;
    }
}

TEST_F(LogWriterTest, MessagesFormEntriesTogether) {
    ShowInfo(kCheckingPatch);
    EXPECT_EQ(Entries(), Lines({"檢查中文化檔是否可以套用：" + std::string(16, ' '), ""}));
    ClearLog();
    gCurrentFileName = "app.exe";
    ShowInfo(kCheckingProgress);
    ShowInfo(kAlreadyNew);
    ShowError(kInternalFileError);
    EXPECT_EQ(Entries(),
              Lines({"＊ 準備更新目的檔案 [app.exe] ====> (確定，已更新)", "內部檔案處理錯誤！"}));
    gCurrentFileName.clear();
}

TEST_F(LogWriterTest, OpenLineIsReplacedInPlaceAndMessagesArePumped) {
    WriteLogText("first\r");
    gSent.clear();
    PostMessageA(gWindow.logPane, kProbe, 0, 0);
    WriteLogText("ab");
    EXPECT_EQ(gProbesSeen, 1);
    WriteLogText("c");
    const std::vector<std::pair<UINT, WPARAM>> show = {{WM_SETREDRAW, FALSE},
                                                       {LB_DELETESTRING, 1},
                                                       {LB_ADDSTRING, 0},
                                                       {LB_SETTOPINDEX, 1},
                                                       {WM_SETREDRAW, TRUE}};
    std::vector<std::pair<UINT, WPARAM>> expected(show);
    expected.erase(expected.begin() + 1);  // the first display deletes nothing
    expected.insert(expected.end(), show.begin(), show.end());
    expected.insert(expected.end(), show.begin(), show.end());
    EXPECT_EQ(gSent, expected);
    EXPECT_EQ(Entries(), Lines({"first", "abc"}));
}

}  // namespace
