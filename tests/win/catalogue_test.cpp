#include "messages/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>

#include "container/process_texts.h"
#include "core/result_codes.h"
#include "messages/message_boxes.h"
#include "platform/system_hooks.h"
#include "ui/window_services.h"

namespace {

std::string Hex(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes)
        out += "0123456789abcdef"[c >> 4], out += "0123456789abcdef"[c & 15];
    return out;
}

TEST(Catalogue, TextsAreCodePage950BytesOfTheirLength) {
    EXPECT_EQ(Hex(MessageText(1)), "bff9bb7ea141a4a4a4e5a4c6c0c9a477b7b4b76ca149");
    EXPECT_EQ(Hex(MessageText(20)),
              "a1af20b7c7b3c6a7f3b773a5d8aabac0c9aed7205b256d5d203d3d3d3d3e20");
    EXPECT_EQ(Hex(MessageText(31)),
              "c0cbac64a4a4a4e5a4c6c0c9ac4fa75fa569a548ae4da5cea147"
              "20202020202020202020202020202020256e256e");
    const size_t kLengths[kMessageCount] = {
        22, 0,  24, 14, 50, 24, 132, 146, 106, 106, 42, 48, 63, 27, 31, 37, 29, 23, 42, 31, 31,
        39, 30, 26, 48, 24, 63, 29,  23,  142, 46,  14, 46, 46, 16, 16, 6,  20, 83, 49, 91, 37};
    for (int n = 1; n <= kMessageCount; ++n)
        EXPECT_EQ(strlen(MessageText(n)), kLengths[n - 1]) << n;
    EXPECT_STREQ(MessageText(9), MessageText(10));
    EXPECT_STREQ(MessageText(28), "Usage: Patchname.exe [path]%n");
    EXPECT_STREQ(MessageText(43), "");
}

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
    gPatchPath = "C:\\p.exe";
    gCurrentFileName = "f.dll";
    for (const Case& c : cases) {
        gTargetDirectory = c.target;
        EXPECT_EQ(ExpandMessage(c.templateText), c.expected) << c.templateText;
    }
    gPatchPath = gCurrentFileName = gTargetDirectory = "";
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
    for (int answer : {IDYES, IDNO, IDCANCEL, 0}) {
        gBoxAnswer = answer;
        EXPECT_EQ(AskYesNo(kAskRestart, "caption", MB_YESNO), answer == IDYES);
        EXPECT_EQ(gBox, "4660|caption|" + std::to_string(MB_YESNO | MB_ICONQUESTION) + "|" +
                            ExpandMessage(MessageText(kAskRestart)));
    }
    gPatchPath = "C:\\p.exe";
    ShowStartupError(kNotAPatch);
    EXPECT_EQ(gBox, "0|Error|0|\r錯誤，[C:\\p.exe] 不是中文化檔。");
    gMessageBoxHook = nullptr;
    gWindow = WindowState();
    gPatchPath.clear();
}

}  // namespace
