#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <sstream>

#include "tests/ui/ui_test_support.h"
#include "ui/web_links.h"

namespace {

constexpr char kAddress[] = "http://host.example/a b";

TEST(WebLinks, CommandTakesTheAddressAtEveryPlaceholder) {
    struct Case {
        const char* commandTemplate;
        const char* expected;
    };
    const Case cases[] = {
        {"\"C:\\b\\browser.exe\" \"%1\"", "\"C:\\b\\browser.exe\" \"http://host.example/a b\""},
        {"C:\\b\\browser.exe", "C:\\b\\browser.exe http://host.example/a b"},
        {"b.exe %1 -x %1", "b.exe http://host.example/a b -x http://host.example/a b"},
        {"b.exe %2 %L %% %1", "b.exe %2 %L %% http://host.example/a b"},
        {"b.exe %", "b.exe % http://host.example/a b"},
        {"b.exe %%1", "b.exe %http://host.example/a b"},
        {"", " http://host.example/a b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BuildBrowserCommand(c.commandTemplate, kAddress), c.expected);
    }
}

TEST(WebLinks, FailureTextQuotesTheAddress) {
    EXPECT_EQ(BrowserFailureText("http://x.example/"),
              std::string("無法自動執行系統預設的網際網路瀏覽器，請找出它並執行") +
                  std::string(24, ' ') + "\"http://x.example/\" manually.");
}

TEST(WebLinks, ClickAreasIncludeTheirBoundsAndNothingBeyond) {
    struct Case {
        int x, y;
        const char* address;
    };
    const Case cases[] = {
        {137, 349, kAuthorPatchPage}, {243, 361, kAuthorPatchPage}, {190, 355, kAuthorPatchPage},
        {136, 355, nullptr},          {244, 355, nullptr},          {190, 348, nullptr},
        {190, 362, nullptr},          {275, 349, kGroupHomePage},   {429, 361, kGroupHomePage},
        {274, 355, nullptr},          {430, 355, nullptr},          {259, 355, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y);
        const char* address = LinkAddressAt(c.x, c.y);
        if (c.address) {
            ASSERT_NE(address, nullptr);
            EXPECT_STREQ(address, c.address);
        } else {
            EXPECT_EQ(address, nullptr);
        }
    }
}

// Points the machine's ".htm" association at a command of the test's choice,
// and puts back what was there before.
class BrowserAssociation : public testing::Test {
  protected:
    void SetUp() override { hadAssociation_ = ReadDefaultValue(kHtmKey, &previousType_); }
    void TearDown() override {
        Reset();
        if (hadAssociation_) SetDefaultValue(kHtmKey, previousType_);
        RemoveMessageBoxHook();
    }
    void Reset() {
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kHtmKey);
        RegDeleteTreeA(HKEY_CLASSES_ROOT, kTypeName);
    }
    void Associate(const char* typeName, const char* command) {
        SetDefaultValue(kHtmKey, typeName);
        if (command) SetDefaultValue(std::string(kTypeName) + "\\shell\\open\\command", command);
    }
    static bool ReadDefaultValue(const std::string& path, std::string* value) {
        char buffer[512] = {};
        LONG size = sizeof(buffer);
        if (RegQueryValueA(HKEY_CLASSES_ROOT, path.c_str(), buffer, &size) != ERROR_SUCCESS) {
            return false;
        }
        *value = buffer;
        return true;
    }
    static void SetDefaultValue(const std::string& path, const std::string& value) {
        HKEY key = 0;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>(value.size() + 1));
        RegCloseKey(key);
    }

    static constexpr char kHtmKey[] = ".htm";
    static constexpr char kTypeName[] = "UiTestPage";
    bool hadAssociation_ = false;
    std::string previousType_;
};

TEST_F(BrowserAssociation, StartsTheRegisteredCommandWithTheAddress) {
    const std::string record = TempPath("ui-browser-record.txt");
    DeleteFileA(record.c_str());
    Associate("UiTestPage", ("cmd.exe /c echo %1>" + record).c_str());
    InstallMessageBoxHook(IDOK);
    OpenWebLink(kGroupHomePage);
    EXPECT_TRUE(gBoxes.empty());
    std::string written;
    for (int i = 0; i < 200 && written.empty(); ++i) {
        Sleep(50);
        std::ifstream in(record);
        std::getline(in, written);
    }
    EXPECT_EQ(written.substr(0, sizeof(kGroupHomePage) - 1), kGroupHomePage);
    DeleteFileA(record.c_str());
}

TEST_F(BrowserAssociation, EveryFailureEndsInTheInfoBox) {
    struct Case {
        const char* name;
        const char* typeName;
        const char* command;
    };
    const Case cases[] = {
        {"command does not start", "UiTestPage", "Z:\\no\\such\\browser.exe \"%1\""},
        {"type without open command", "UiTestPage", nullptr},
        {"empty type name", "", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reset();
        Associate(c.typeName, c.command);
        InstallMessageBoxHook(IDOK);
        OpenWebLink(kAuthorPatchPage);
        ASSERT_EQ(gBoxes.size(), 1u);
        EXPECT_EQ(gBoxes[0].owner, nullptr);
        EXPECT_EQ(gBoxes[0].caption, "Info");
        EXPECT_EQ(gBoxes[0].text, BrowserFailureText(kAuthorPatchPage));
        EXPECT_EQ(gBoxes[0].type, static_cast<UINT>(MB_OK));
    }
}

}  // namespace
