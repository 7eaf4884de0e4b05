#include <gtest/gtest.h>
#include <windows.h>

#include "tests/ui/ui_test_support.h"
#include "ui/web_links.h"

namespace {

TEST(WebLinks, CommandTakesTheAddressAtEveryPlaceholder) {
    const std::string a = "http://host.example/a b";
    const std::string cases[][2] = {
        {"\"C:\\b\\browser.exe\" \"%1\"", "\"C:\\b\\browser.exe\" \"" + a + "\""},
        {"C:\\b\\browser.exe", "C:\\b\\browser.exe " + a},
        {"b.exe %1 -x %1", "b.exe " + a + " -x " + a},
        {"b.exe %2 %L %% %1", "b.exe %2 %L %% " + a},
        {"b.exe %", "b.exe % " + a},
        {"b.exe %%1", "b.exe %" + a},
        {"", " " + a},
    };
    for (const auto& c : cases) EXPECT_EQ(BuildBrowserCommand(c[0], a), c[1]);
}

// Points the machine's ".htm" association at a command of the test's choice.
void Associate(const char* typeName, const char* command) {
    RegDeleteTreeA(HKEY_CLASSES_ROOT, ".htm");
    RegDeleteTreeA(HKEY_CLASSES_ROOT, "UiTestPage");
    if (typeName) RegSetValueA(HKEY_CLASSES_ROOT, ".htm", REG_SZ, typeName, 0);
    if (command)
        RegSetValueA(HKEY_CLASSES_ROOT, "UiTestPage\\shell\\open\\command", REG_SZ, command, 0);
}

// The machine's association is put back afterwards.
TEST(WebLinks, EveryFailureEndsInTheInfoBoxQuotingTheAddress) {
    char previous[512] = {};
    LONG size = sizeof(previous);
    const bool had = RegQueryValueA(HKEY_CLASSES_ROOT, ".htm", previous, &size) == ERROR_SUCCESS;
    const char* cases[][2] = {
        {"UiTestPage", "Z:\\no\\such\\browser.exe \"%1\""},  // command does not start
        {"UiTestPage", nullptr},                             // type without open command
        {"", nullptr},                                       // empty type name
    };
    for (const auto& c : cases) {
        Associate(c[0], c[1]);
        InstallMessageBoxHook(IDOK);
        OpenWebLink("http://x.example/");
        EXPECT_EQ(gBoxes.size(), 1u) << c[0] << (c[1] != nullptr);
        EXPECT_TRUE(gBoxes.size() == 1 &&
                    gBoxes[0].text.find("\"http://x.example/\"") != std::string::npos);
    }
    Associate(had ? previous : nullptr, nullptr);
    RemoveMessageBoxHook();
}

}  // namespace
