#include "messages/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>

#include "container/process_texts.h"
#include "core/result_codes.h"

namespace {

std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

// Code page 950 bytes of the texts as the user must see them.
TEST(Catalogue, TextsAreTheCodePage950Bytes) {
    struct Case {
        int number;
        const char* hex;
    };
    const Case cases[] = {
        {1, "bff9bb7ea141a4a4a4e5a4c6c0c9a477b7b4b76ca149"},
        {13,
         "aa60b74ea141a8cfa5ceaaccad6ea844a4a4c25fa14320c0c9aed7a97ca5bca5feb3a1a7b9a6a8a7f3a7efa1"
         "41a4a4a4e5a4c6c0c9b54caa6bae4da5cea147"},
        {20, "a1af20b7c7b3c6a7f3b773a5d8aabac0c9aed7205b256d5d203d3d3d3d3e20"},
        {28, "55736167653a2050617463686e616d652e657865205b706174685d256e"},
        {31,
         "c0cbac64a4a4a4e5a4c6c0c9ac4fa75fa569a548ae4da5cea14720202020202020202020202020202020256e2"
         "56e"},
        {9,
         "256ea6b3a8c7c0c9aed7b351a4a4a4e5a4c6c0c9a5bfb351a8cfa5cea14320a670aa47a662c0c9aed7add7a5"
         "bfa7b9a6a8ab65adabb773b67dbef7a141c0c9aed7b14eb77ca4a3a5bfb160a14320256e256ea741bd54a977"
         "ad6eb27ba662adabb773b67dbef7b6dca148"},
    };
    for (const Case& c : cases) EXPECT_EQ(Hex(MessageText(c.number)), c.hex) << c.number;
}

TEST(Catalogue, EveryNumberHasItsTextAndTwoStaysEmpty) {
    const size_t kLengths[kMessageCount] = {
        22, 0,  24, 14, 50, 24, 132, 146, 106, 106, 42, 48, 63, 27, 31, 37, 29, 23, 42, 31, 31,
        39, 30, 26, 48, 24, 63, 29,  23,  142, 46,  14, 46, 46, 16, 16, 6,  20, 83, 49, 91, 37};
    for (int n = 1; n <= kMessageCount; ++n) {
        EXPECT_EQ(std::strlen(MessageText(n)), kLengths[n - 1]) << n;
    }
    EXPECT_STREQ(MessageText(9), MessageText(10));
    for (int outside : {0, -1, 43, 1000}) EXPECT_STREQ(MessageText(outside), "");
}

struct ExpansionCase {
    const char* templateText;
    const char* patchPath;
    const char* fileName;
    const char* target;
    const char* expected;
};

TEST(Catalogue, ExpandMessageReplacesPlaceholders) {
    const ExpansionCase cases[] = {
        {"a%nb", "", "", "", "a\rb"},
        {"[%p] [%m] [%s]", "C:\\p.exe", "sub\\f.dll", "D:\\app",
         "[C:\\p.exe] [sub\\f.dll] [D:\\app]"},
        {"[%m]", "", "", "", "[]"},
        {"[%s]", "", "", ".", "[現在的目錄]"},
        {"[%s]", "", "", ".\\", "[現在的目錄]"},
        {"[%s]", "", "", ".\\app", "[app]"},
        {"[%s]", "", "", "..\\app", "[..\\app]"},
        {"[%s]", "", "", "C:\\app", "[C:\\app]"},
        {"[%m]", "", ".\\x", "", "[x]"},
        {"%%n", "", "", "", "%\r"},
        {"%N %x %", "", "", "", "%N %x %"},
        {"100%", "", "", "", "100%"},
        {"%s%s", "", "", "t", "tt"},
    };
    for (const ExpansionCase& c : cases) {
        gPatchPath = c.patchPath;
        gCurrentFileName = c.fileName;
        gTargetDirectory = c.target;
        EXPECT_EQ(ExpandMessage(c.templateText), c.expected) << c.templateText;
    }
    gPatchPath.clear();
    gCurrentFileName.clear();
    gTargetDirectory.clear();
}

TEST(Catalogue, StartupMessagesNameThePatch) {
    gPatchPath = "C:\\dl\\patch.exe";
    EXPECT_EQ(ExpandMessage(MessageText(kCannotOpenPatch)),
              "錯誤，無法開啟中文化檔 [C:\\dl\\patch.exe]！\r");
    gPatchPath.clear();
}

}  // namespace
