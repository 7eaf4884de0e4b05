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

// Points the machine's ".htm" association at a command of the test's choice,
// and puts back what was there before.
class BrowserAssociation : public testing::Test {
  protected:
    void SetUp() override {
        char value[512] = {};
        LONG size = sizeof(value);
        hadAssociation_ = RegQueryValueA(HKEY_CLASSES_ROOT, ".htm", value, &size) == ERROR_SUCCESS;
        previousType_ = value;
        InstallMessageBoxHook(IDOK);
    }
    void TearDown() override {
        Associate(nullptr, nullptr);
        if (hadAssociation_) Associate(previousType_.c_str(), nullptr);
        RemoveMessageBoxHook();
    }
    static void Associate(const char* typeName, const char* command) {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, ".htm");
        RegDeleteTreeA(HKEY_CLASSES_ROOT, "UiTestPage");
        if (typeName) RegSetValueA(HKEY_CLASSES_ROOT, ".htm", REG_SZ, typeName, 0);
        if (command)
            RegSetValueA(HKEY_CLASSES_ROOT, "UiTestPage\\shell\\open\\command", REG_SZ, command, 0);
    }
    bool hadAssociation_ = false;
    std::string previousType_;
};

TEST_F(BrowserAssociation, EveryFailureEndsInTheInfoBoxQuotingTheAddress) {
    const char* cases[][2] = {
        {"UiTestPage", "Z:\\no\\such\\browser.exe \"%1\""},  // command does not start
        {"UiTestPage", nullptr},                             // type without open command
        {"", nullptr},                                       // empty type name
    };
    for (const auto& c : cases) {
        Associate(c[0], c[1]);
        InstallMessageBoxHook(IDOK);
        OpenWebLink("http://x.example/");
        ASSERT_EQ(gBoxes.size(), 1u) << c[0] << (c[1] != nullptr);
        EXPECT_EQ(gBoxes[0].owner, nullptr);
        EXPECT_EQ(gBoxes[0].caption, "Info");
        EXPECT_EQ(gBoxes[0].text, "無法自動執行系統預設的網際網路瀏覽器，請找出它並執行" +
                                      std::string(24, ' ') + "\"http://x.example/\" manually.");
        EXPECT_EQ(gBoxes[0].type, static_cast<UINT>(MB_OK));
    }
}

}  // namespace
