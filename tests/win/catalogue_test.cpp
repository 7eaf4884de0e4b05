#include "messages/catalogue.h"

#include <gtest/gtest.h>

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

}  // namespace
