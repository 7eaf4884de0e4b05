#include <gtest/gtest.h>

#include "builder/lib/reg_file.h"
#include "builder/lib/text_cp950.h"

namespace {

// Lines become NUL-separated code page 950; errors name file and line (a
// character code page 950 lacks is refused in the command-line tests).
TEST(TextCp950, ConvertsLinesOrNamesTheFaultyLine) {
    std::string out, error;
    ASSERT_TRUE(ConvertTextFile("\xEF\xBB\xBF中文化\r\nline 2\n", "d.txt", &out, &error)) << error;
    EXPECT_EQ(out, std::string("\xA4\xA4\xA4\xE5\xA4\xC6\0line 2", 13));
    ASSERT_TRUE(ConvertTextFile("", "d.txt", &out, &error));
    EXPECT_EQ(out, "");
    const char* kCases[][2] = {{"\xC3\x28", "notice.txt:1: bytes that are not UTF-8"},
                               {"a\n\xE2\x82", "notice.txt:2: bytes that are not UTF-8"}};
    for (const auto& c : kCases) {
        EXPECT_FALSE(ConvertTextFile(c[0], "notice.txt", &out, &error));
        EXPECT_EQ(error.compare(0, strlen(c[1]), c[1]), 0) << error;
    }
}

TEST(RegFile, ReadsStringsDwordsAndHexValuesInEitherEncoding) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n"
        "; comment\r\n"
        "\r\n"
        "[HKEY_LOCAL_MACHINE\\Software\\Maker\\App]\r\n"
        "@=\"預設\"\r\n"
        "\"Path\"=\"C:\\\\Program Files\\\\App\"\r\n"
        "\"Count\"=dword:0000002a\r\n"
        "\"Blob\"=hex:01,02,\\\r\n"
        "  ff\r\n"
        "\"Expand\"=hex(2):25,00,41,00,00,00\r\n"
        "[HKCU\\Software\\App]\r\n"
        "\"Quote\"=\"say \\\"hi\\\"\"\r\n";
    std::vector<RegKey> keys;
    std::string error;
    ASSERT_TRUE(ParseRegFile(text, "a.reg", &keys, &error)) << error;
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(keys[0].rootKey, 0x80000002u);
    EXPECT_EQ(keys[0].path, "Software\\Maker\\App");
    ASSERT_EQ(keys[0].values.size(), 5u);
    EXPECT_EQ(keys[0].values[0].name, "");
    EXPECT_EQ(keys[0].values[0].data, (Bytes{0xB9, 0x77, 0xB3, 0x5D, 0}));
    EXPECT_EQ(keys[0].values[1].data.size(), strlen("C:\\Program Files\\App") + 1);
    EXPECT_EQ(keys[0].values[2].type, kRegDword);
    EXPECT_EQ(keys[0].values[2].data, (Bytes{42, 0, 0, 0}));
    EXPECT_EQ(keys[0].values[3].type, kRegBinary);
    EXPECT_EQ(keys[0].values[3].data, (Bytes{1, 2, 0xFF}));
    EXPECT_EQ(keys[0].values[4].type, kRegExpandSz);
    EXPECT_EQ(keys[0].values[4].data, (Bytes{'%', 'A', 0}));  // UTF-16 became code page 950
    EXPECT_EQ(keys[1].rootKey, 0x80000001u);
    EXPECT_EQ(keys[1].values[0].data, (Bytes{'s', 'a', 'y', ' ', '"', 'h', 'i', '"', 0}));
    // The same as a Unicode file with its byte order mark.
    std::string utf16 = "\xFF\xFE";
    for (char c : std::string("REGEDIT4\n[HKLM\\S]\n\"v\"=\"x\"\n")) {
        utf16.push_back(c);
        utf16.push_back('\0');
    }
    ASSERT_TRUE(ParseRegFile(utf16, "u.reg", &keys, &error)) << error;
    EXPECT_EQ(keys[0].values[0].data, (Bytes{'x', 0}));
}

// A REGEDIT4 file is text in the ANSI code page of the Windows that wrote it:
// code page 950 where our users are. Its bytes decide, or --reg-encoding.
TEST(RegFile, Regedit4FilesAreReadInTheirCodePage) {
    const std::string kBig5 =
        "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\Software\\\xBB\x79\xA8\xA5]\r\n"
        "\"\xA4\xA4\"=\"\xA4\xE5\"\r\n";
    const std::string kUtf8 = "REGEDIT4\n[HKLM\\Software\\語言]\n\"中\"=\"文\"\n";
    const std::string kBoth =
        "REGEDIT4\n[HKLM\\S]\n\"v\"=\"\xC3\xA1\"\n";  // á, or one Big5 character
    struct Case {
        const std::string& text;
        RegEncoding encoding;
        const char* path;  // code page 950 bytes
        const char* data;
    };
    const Case kCases[] = {
        {kBig5, RegEncoding::kAuto, "Software\\\xBB\x79\xA8\xA5", "\xA4\xE5"},
        {kBig5, RegEncoding::kCp950, "Software\\\xBB\x79\xA8\xA5", "\xA4\xE5"},
        {kUtf8, RegEncoding::kAuto, "Software\\\xBB\x79\xA8\xA5", "\xA4\xE5"},
        {kUtf8, RegEncoding::kUtf8, "Software\\\xBB\x79\xA8\xA5", "\xA4\xE5"},
        {kBoth, RegEncoding::kCp950, "S", "\xC3\xA1"},
    };
    for (const Case& c : kCases) {
        std::vector<RegKey> keys;
        std::string error;
        ASSERT_TRUE(ParseRegFile(c.text, "r.reg", &keys, &error, c.encoding)) << error;
        ASSERT_EQ(keys.size(), 1u);
        EXPECT_EQ(keys[0].path, c.path);
        std::string data(c.data);
        EXPECT_EQ(keys[0].values[0].data, Bytes(data.begin(), data.end() + 1));
    }
    std::vector<RegKey> keys;
    std::string error;
    EXPECT_FALSE(ParseRegFile(kBig5, "r.reg", &keys, &error, RegEncoding::kUtf8));
    EXPECT_EQ(error, "r.reg:2: bytes that are not UTF-8");
    EXPECT_FALSE(ParseRegFile(kBoth, "r.reg", &keys, &error, RegEncoding::kUtf8));  // no Latin á
    EXPECT_NE(error.find("U+00E1"), std::string::npos) << error;
}

TEST(RegFile, BadInputGivesLineNumberedErrors) {
    const char* kCases[][2] = {
        {"", "r.reg:1: the file is empty"},
        {"hello\n", "r.reg:1: the first line"},
        {"REGEDIT4\n\"v\"=\"x\"\n", "r.reg:2: a value comes before any [key]"},
        {"REGEDIT4\n[HKEY_NOWHERE\\x]\n", "r.reg:2: \"HKEY_NOWHERE\\x\" does not start"},
        {"REGEDIT4\n[-HKLM\\x]\n", "r.reg:2: a patch cannot delete registry keys"},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=-\n", "r.reg:3: a patch cannot delete registry values"},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=dword:123456789\n", "r.reg:3: a dword needs"},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=hex:1,zz\n", "r.reg:3: 'z' is not"},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=hex:01,\\", "r.reg:3: the file ends inside"},
        {"REGEDIT4\n[HKLM\\x]\n\"v=\"x\"\n", "r.reg:3: '=' was expected"},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=\"unclosed\n", "r.reg:3: a quoted text is not closed"},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=\"\xF0\x9F\x98\x80\"\n", "r.reg:3: character U+1F600"},
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=qword:1\n", "r.reg:3: unknown value data"},
        // The last byte of UTF-16 text cut off: refused, never dropped.
        {"Windows Registry Editor Version 5.00\n[HKLM\\x]\n\"v\"=hex(2):25,00,41\n",
         "r.reg:3: hex(2) data holds 3 bytes, an odd number"},
        {"Windows Registry Editor Version 5.00\n[HKLM\\x]\n\"v\"=hex(7):41,00,00\n",
         "r.reg:3: hex(7) data holds 3 bytes"},
        // Neither UTF-8 nor code page 950 (a lone lead byte at the end).
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=\"\xA4\"\n",
         "r.reg:3: bytes that are neither UTF-8 nor code page 950"},
        // Bytes that are text in both: the file must say which.
        {"REGEDIT4\n[HKLM\\x]\n\"v\"=\"\xC3\xA1\"\n",
         "r.reg: the file reads as UTF-8 and as code page 950 alike; say which"},
    };
    for (const auto& c : kCases) {
        std::vector<RegKey> keys;
        std::string error;
        EXPECT_FALSE(ParseRegFile(c[0], "r.reg", &keys, &error)) << c[0];
        EXPECT_EQ(error.compare(0, strlen(c[1]), c[1]), 0) << error;
    }
}

}  // namespace
