#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

struct CommandLineCase {
    const char* name;
    const char* commandLine;
    bool showUsage;
    const char* targetPath;  // checked when no usage is due
};

const CommandLineCase kCases[] = {
    {"no argument", "patch.exe", false, "."},
    {"one path", "patch.exe C:\\Games\\Tale", false, "C:\\Games\\Tale"},
    {"quoted program name with blanks", "\"C:\\My Patches\\p.exe\" D:\\x", false, "D:\\x"},
    {"quoted path keeps its blanks", "p.exe \"D:\\My Games\\Tale\"", false, "D:\\My Games\\Tale"},
    {"quotes around the inner blank only", "p.exe D:\\My\" \"Games", false, "D:\\My Games"},
    {"empty quotes are no token", "p.exe \"\" D:\\x", false, "D:\\x"},
    {"blanks around and between", "   p.exe    D:\\x    ", false, "D:\\x"},
    {"a tab belongs to the token", "p.exe a\tb", false, "a\tb"},
    {"upper-case option is a path", "p.exe -H", false, "-H"},
    {"unclosed quote drops its token", "p.exe \"D:\\x", false, "."},
    {"unclosed quote hides a surplus argument", "p.exe D:\\x \"E:\\y F:\\z", false, "D:\\x"},
    {"unclosed quote hides the option", "p.exe D:\\x \"-h", false, "D:\\x"},
    // Second bytes 0x5C of double-byte characters pass through untouched.
    {"double-byte path", "p.exe C:\\\xB3\x5C\xA5\x5C", false, "C:\\\xB3\x5C\xA5\x5C"},
    {"option alone", "p.exe -h", true, ""},
    {"option after a path", "p.exe D:\\x -h", true, ""},
    {"option as the program name", "-h", true, ""},
    {"two arguments", "p.exe D:\\x E:\\y", true, ""},
    {"quoted second argument", "p.exe D:\\x \"E:\\y z\"", true, ""},
    {"empty command line", "", false, "."},
};

TEST(CommandLine, ParsesEveryForm) {
    for (const CommandLineCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const CommandLineRequest request = ParseCommandLine(c.commandLine);
        EXPECT_EQ(request.showUsage, c.showUsage);
        if (!c.showUsage) {
            EXPECT_EQ(request.targetPath, c.targetPath);
        }
    }
}

}  // namespace
