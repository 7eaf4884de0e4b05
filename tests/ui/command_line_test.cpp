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
        EXPECT_FALSE(request.unattended) << c[0];
        if (c[1]) {
            EXPECT_EQ(request.targetPath, c[1]) << c[0];
        }
    }
}

// "/quiet" takes no path position, wherever it stands and in any case; it is
// still seen after a refusal, so an unattended run never waits on the usage box.
TEST(CommandLine, QuietSwitchTakesNoPathPosition) {
    // line, target (nullptr: refused), unattended, help
    const std::tuple<const char*, const char*, bool, bool> cases[] = {
        {"p.exe /quiet", ".", true, false},
        {"p.exe /QUIET D:\\x", "D:\\x", true, false},
        {"p.exe \"D:\\a b\" /Quiet", "D:\\a b", true, false},
        {"/quiet", ".", false, false},               // the program's own name
        {"p.exe \\quiet", "\\quiet", false, false},  // a folder at the root, reached so
        {"p.exe /quiet2", "/quiet2", false, false},
        {"p.exe a b /quiet", nullptr, true, false},
        {"p.exe -h /quiet", nullptr, true, true},
        {"p.exe /quiet \"x", ".", true, false},  // the unclosed token is dropped as ever
    };
    for (const auto& [line, target, unattended, help] : cases) {
        const CommandLineRequest request = ParseCommandLine(line);
        EXPECT_EQ(request.showUsage, target == nullptr) << line;
        EXPECT_EQ(request.unattended, unattended) << line;
        EXPECT_EQ(request.helpAsked, help) << line;
        if (target) {
            EXPECT_EQ(request.targetPath, target) << line;
        }
    }
}

}  // namespace
