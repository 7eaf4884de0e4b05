#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

// A target of nullptr: the usage box is due. The plain forms and refusals are
// also driven end to end.
TEST(CommandLine, ParsesEveryForm) {
    const char* cases[][2] = {
        {"", "."},
        {"\"C:\\My Patches\\p.exe\" D:\\x", "D:\\x"},
        {"p.exe D:\\My\" \"Games", "D:\\My Games"},  // quotes around the inner blank only
        {"p.exe \"\" D:\\x", "D:\\x"},               // empty quotes are no token
        {"   p.exe    D:\\x    ", "D:\\x"},
        {"p.exe a\tb", "a\tb"},                  // a tab belongs to the token
        {"p.exe -H", "-H"},                      // upper case is a path
        {"p.exe \"D:\\x", "."},                  // an unclosed quote drops its token ...
        {"p.exe D:\\x \"E:\\y F:\\z", "D:\\x"},  // ... and hides a surplus argument
        {"p.exe D:\\x \"-h", "D:\\x"},           // ... or the option
        // Second bytes 0x5C of double-byte characters pass through untouched.
        {"p.exe C:\\\xB3\x5C\xA5\x5C", "C:\\\xB3\x5C\xA5\x5C"},
        {"p.exe D:\\x -h", nullptr},
        {"-h", nullptr},  // as the program name
    };
    for (const auto& c : cases) {
        const CommandLineRequest request = ParseCommandLine(c[0]);
        EXPECT_EQ(request.showUsage, c[1] == nullptr) << c[0];
        if (c[1]) {
            EXPECT_EQ(request.targetPath, c[1]) << c[0];
        }
    }
}

}  // namespace
