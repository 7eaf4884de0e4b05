#include "messages/log_writer.h"

#include <gtest/gtest.h>

#include <vector>

#include "container/process_texts.h"
#include "core/result_codes.h"
#include "messages/catalogue.h"
#include "ui/window_services.h"

namespace {

struct SentMessage {
    UINT message;
    WPARAM wParam;
};

std::vector<SentMessage> gSent;
WNDPROC gListBoxProc = nullptr;
int gPostedSeen = 0;
constexpr UINT kProbeMessage = WM_APP + 1;

LRESULT CALLBACK RecordingListBox(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_SETREDRAW:
        case LB_ADDSTRING:
        case LB_DELETESTRING:
        case LB_SETTOPINDEX:
        case LB_RESETCONTENT:
            gSent.push_back({message, wParam});
            break;
        case kProbeMessage:
            ++gPostedSeen;
            return 0;
    }
    return CallWindowProcA(gListBoxProc, window, message, wParam, lParam);
}

class LogWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        parent_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 400, 0, 0, 0, 0);
        listBox_ = CreateWindowExA(0, "LISTBOX", "", WS_CHILD | WS_VSCROLL | LBS_NOSEL, 0, 0, 575,
                                   275, parent_, 0, 0, 0);
        ASSERT_NE(listBox_, HWND(0));
        gListBoxProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(
            listBox_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(RecordingListBox)));
        gWindow.logPane = listBox_;
        ClearLog();
        gSent.clear();
    }
    void TearDown() override {
        ClearLog();
        gWindow.logPane = 0;
        DestroyWindow(parent_);
        gCurrentFileName.clear();
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> entries;
        int count = static_cast<int>(SendMessageA(listBox_, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[1024] = {};
            SendMessageA(listBox_, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
            entries.push_back(text);
        }
        return entries;
    }

    HWND parent_ = 0;
    HWND listBox_ = 0;
};

using Lines = std::vector<std::string>;

TEST_F(LogWriterTest, WrapsAtSeventyEightBytes) {
    const std::string line60 = std::string(59, 'a') + " ";
    struct Case {
        const char* name;
        std::string text;
        Lines expected;
    };
    const Case cases[] = {
        {"60 + 19 wraps", line60 + std::string(19, 'b'), {line60, std::string(19, 'b')}},
        {"60 + 18 stays", line60 + std::string(18, 'b'), {line60 + std::string(18, 'b')}},
        // Each Chinese character counts two bytes.
        {"double-byte width", line60 + "中文中文中文中文中文", {line60, "中文中文中文中文中文"}},
        {"word of 90 at a line start", std::string(90, 'w'), {"", std::string(90, 'w')}},
        {"leading break with no open line", "\rx", {"", "x"}},
        {"leading break closes an open line", "ab\r\rx", {"ab", "", "x"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearLog();
        WriteLogText(c.text.c_str());
        EXPECT_EQ(Entries(), c.expected);
    }
}

TEST_F(LogWriterTest, MessagesContinueAnOpenLine) {
    ShowInfo(kCheckingPatch);
    EXPECT_EQ(Entries(), Lines({"檢查中文化檔是否可以套用：" + std::string(16, ' '), ""}));

    ClearLog();
    gCurrentFileName = "app.exe";
    ShowInfo(kCheckingProgress);
    EXPECT_EQ(Entries(), Lines({"＊ 準備更新目的檔案 [app.exe] ====> "}));
    ShowInfo(kAlreadyNew);
    ShowError(kInternalFileError);
    EXPECT_EQ(Entries(),
              Lines({"＊ 準備更新目的檔案 [app.exe] ====> (確定，已更新)", "內部檔案處理錯誤！"}));
}

TEST_F(LogWriterTest, ReplacesTheOpenLineInPlace) {
    WriteLogText("first\r");
    gSent.clear();
    WriteLogText("ab");
    WriteLogText("c");
    const std::vector<SentMessage> expected = {
        {WM_SETREDRAW, FALSE}, {LB_ADDSTRING, 0},     {LB_SETTOPINDEX, 1},  {WM_SETREDRAW, TRUE},
        {WM_SETREDRAW, FALSE}, {LB_DELETESTRING, 1},  {LB_ADDSTRING, 0},    {LB_SETTOPINDEX, 1},
        {WM_SETREDRAW, TRUE},  {WM_SETREDRAW, FALSE}, {LB_DELETESTRING, 1}, {LB_ADDSTRING, 0},
        {LB_SETTOPINDEX, 1},   {WM_SETREDRAW, TRUE},
    };
    ASSERT_EQ(gSent.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(gSent[i].message, expected[i].message) << i;
        EXPECT_EQ(gSent[i].wParam, expected[i].wParam) << i;
    }
    EXPECT_EQ(Entries(), Lines({"first", "abc"}));
}

TEST_F(LogWriterTest, EveryChangeLetsWaitingMessagesThrough) {
    gPostedSeen = 0;
    PostMessageA(listBox_, kProbeMessage, 0, 0);
    WriteLogText("\r");  // only an empty entry
    EXPECT_EQ(gPostedSeen, 1);
    PostMessageA(listBox_, kProbeMessage, 0, 0);
    WriteLogText("word");
    EXPECT_EQ(gPostedSeen, 2);
}

TEST_F(LogWriterTest, ClearLogStartsAfresh) {
    WriteLogText("open line");
    ClearLog();
    EXPECT_TRUE(Entries().empty());
    gSent.clear();
    WriteLogText("x");
    EXPECT_EQ(Entries(), Lines({"x"}));
    // A fresh log has nothing to replace: the first change adds, never deletes.
    ASSERT_GE(gSent.size(), 2u);
    EXPECT_EQ(gSent[1].message, static_cast<UINT>(LB_ADDSTRING));
}

TEST_F(LogWriterTest, WithoutAListBoxNothingHappens) {
    gWindow.logPane = 0;
    WriteLogText("lost\r");
    gWindow.logPane = listBox_;
    EXPECT_TRUE(Entries().empty());
}

}  // namespace
