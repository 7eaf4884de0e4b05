#include "messages/log_writer.h"

#include <gtest/gtest.h>

#include "tests/win/test_support.h"
#include "ui/window_services.h"

namespace {

using Lines = std::vector<std::string>;

// Each '|' of a case's text starts a further call of the writer.
TEST(LogWriter, WrapsAtSeventyEightBytesKeepsTheLastLineOpenAndPumps) {
    gWindow.logPane =
        CreateWindowExA(0, "LISTBOX", "", WS_POPUP | LBS_NOSEL, 0, 0, 575, 275, 0, 0, 0, 0);
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
        {"first\r|ab|c", {"first", "abc"}},  // the open line is replaced in place
    };
    for (const Case& c : cases) {
        ClearLog();
        size_t from = 0;
        for (size_t bar; (bar = c.text.find('|', from)) != std::string::npos; from = bar + 1)
            WriteLogText(c.text.substr(from, bar - from).c_str());
        PostThreadMessageA(GetCurrentThreadId(), WM_APP, 0, 0);
        WriteLogText(c.text.substr(from).c_str());
        EXPECT_EQ(ListBoxEntries(gWindow.logPane), c.expected) << c.text;
        MSG msg;
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_APP, WM_APP, PM_REMOVE));  // pumped
    }
    ClearLog();
    DestroyWindow(gWindow.logPane);
    gWindow.logPane = 0;
}

}  // namespace
