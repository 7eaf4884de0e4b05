#include "messages/catalogue.h"

#include <gtest/gtest.h>

#include "messages/message_boxes.h"
#include "platform/system_hooks.h"
#include "ui/window_services.h"

namespace {

TEST(Catalogue, ExpansionOfPlaceholders) {
    struct Case {
        const char *templateText, *target, *expected;
    } cases[] = {
        {"a%nb", "", "a\rb"},
        {"[%p|%m|%s]", "D:\\t", "[C:\\p.exe|f.dll|D:\\t]"},
        {"[%s]", ".", "[現在的目錄]"},
        {"[%s]", ".\\", "[現在的目錄]"},
        {"[%s]", ".\\app", "[app]"},
        {"[%s]", "..\\app", "[..\\app]"},
        {"%%n", "", "%\r"},
        {"%N %x %", "", "%N %x %"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ExpandMessage(c.templateText, {"C:\\p.exe", "f.dll", c.target}), c.expected)
            << c.templateText;
    }
    EXPECT_STREQ(MessageText(kMessageCount + 1), "");
}

// Owner, caption, type and text of the last box, as one line.
std::string gBox;
int gBoxAnswer = 0;

TEST(MessageBoxes, AskYesNoIsTrueOnlyForYesAndStartupErrorsHaveNoOwner) {
    gMessageBoxHook = [](HWND owner, const char* text, const char* caption, UINT type) {
        gBox = std::to_string(reinterpret_cast<intptr_t>(owner)) + "|" + caption + "|" +
               std::to_string(type) + "|" + text;
        return gBoxAnswer;
    };
    gWindow.mainWindow = reinterpret_cast<HWND>(0x1234);
    OpenedPatch patch;
    WindowHost host(patch);
    for (int answer : {IDYES, IDNO, IDCANCEL, 0}) {
        gBoxAnswer = answer;
        EXPECT_EQ(host.AskYesNo("question", "caption"), answer == IDYES);
        EXPECT_EQ(gBox, "4660|caption|" + std::to_string(MB_YESNO | MB_ICONQUESTION) + "|question");
    }
    ShowStartupError(kNotAPatch, {"C:\\p.exe", "", ""});
    EXPECT_EQ(gBox, "0|Error|0|\r錯誤，[C:\\p.exe] 不是中文化檔。");
    gMessageBoxHook = nullptr;
    gWindow = WindowState();
}

}  // namespace
