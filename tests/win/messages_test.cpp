#include "messages/log_writer.h"

#include <gtest/gtest.h>

#include "messages/catalogue.h"
#include "tests/engine/engine_harness.h"

namespace {

// Each '|' of a case's text starts a further call of the writer.
TEST(LogWriter, WrapsAtSeventyEightBytesKeepsTheLastLineOpenAndPumps) {
    const std::string line60 = std::string(59, 'a') + " ", w19(19, 'b'), w18(18, 'b');
    const std::tuple<std::string, std::vector<std::string>> cases[] = {
        {line60 + w19, {line60, w19}},
        {line60 + w18, {line60 + w18}},
        {line60 + "中文中文中文中文中文", {line60, "中文中文中文中文中文"}},  // 2 bytes each
        {std::string(90, 'w'), {"", std::string(90, 'w')}},
        {"ab\r\rx", {"ab", "", "x"}},
        {"first\r|ab|c", {"first", "abc"}},  // the open line is replaced in place
    };
    for (const auto& [text, expected] : cases) {
        FakeHost host;
        LogWriter writer(host);
        size_t from = 0;
        for (size_t bar; (bar = text.find('|', from)) != std::string::npos; from = bar + 1)
            writer.Write(text.substr(from, bar - from));
        writer.Write(text.substr(from));
        EXPECT_EQ(host.log, expected) << text;
        EXPECT_GE(host.pumps, static_cast<int>(expected.size())) << text;
        writer.Clear();
        writer.Write("x");
        EXPECT_EQ(host.log, std::vector<std::string>{"x"});  // a fresh start after Clear
    }
}

TEST(Catalogue, ExpansionOfPlaceholders) {
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"a%nb", "", "a\rb"},
        {"[%p|%m|%s]", "D:\\t", "[C:\\p.exe|f.dll|D:\\t]"},
        {"[%s]", ".", "[現在的目錄]"},
        {"[%s]", ".\\", "[現在的目錄]"},
        {"[%s]", ".\\app", "[app]"},
        {"[%s]", "..\\app", "[..\\app]"},
        {"%%n", "", "%\r"},
        {"%N %x %", "", "%N %x %"},
    };
    for (const auto& [templateText, target, expected] : cases) {
        EXPECT_EQ(ExpandMessage(templateText, {"C:\\p.exe", "f.dll", target}), expected)
            << templateText;
    }
    EXPECT_STREQ(MessageText(kMessageCount + 1), "");
}

}  // namespace
