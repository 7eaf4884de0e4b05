#include "core/windows_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/lib/payload_writer.h"
#include "core/cp950.h"
#include "tests/core/test_bytes.h"

extern const Cp950CaseRun kCp950CaseRuns[];
extern const size_t kCp950CaseRunCount;

namespace {

using P = NameProblem;

// Code page 950 spellings used below.
const std::string kBetaLower = "\xA3\x5D";   // Greek small beta
const std::string kBetaUpper = "\xA3\x45";   // Greek capital beta
const std::string kWideA = "\xA2\xE9";       // full-width small a
const std::string kWideUpperA = "\xA2\xCF";  // full-width capital A
const std::string kXu = "\xB3\x5C";          // a character whose second byte is '\'

struct NameCase {
    NameProblem problem;
    std::vector<std::string> names;
};

// Every kind of name Windows would not create as that file, at the start, in
// the middle and at the end of a path, in several cases; and look-alikes that
// are ordinary names (a Chinese directory and file among them).
// clang-format off
const NameCase kNames[] = {
    {P::kEmptyComponent, {"", "\\a", "a/", "a\\\\b"}},
    {P::kDotComponent, {".", "a\\..\\b", ". .", "a/./b"}},
    {P::kTrailingDotOrBlank, {"a.txt.", "dir.\\f", "trail ", "d \\f", kXu + "..\\x"}},
    {P::kReservedCharacter, {"a<b", "d>\\f", "C:\\x", "x:stream", "d\"q", "p|p", "dir\\q?x", "a*b"}},
    {P::kControlCharacter, {"a\tb", "dir\x1F\\f", "\x01"}},
    {P::kBrokenCharacter, {"\xB3", "\xB3/..", "a\xB3 b", "a\x80", "\xFF.txt"}},
    {P::kDeviceName,
     {"CON", "nul.txt", "Aux.c", "aux\\readme.txt", "dir\\con.d", "COM1", "lpt9.log", "prn.tar.gz",
      "nul .txt", "CONIN$", "a\\conout$.x", "Clock$"}},
    {P::kWorkName, {"PATCH0.TMP", "patch12.tmp\\x", "BINTMP1.TMP", "bintmp2.tmp"}},
    {P::kNone,
     {"a.b.c", "conx.txt", "console", "x\\nul-file", "COM0", "lpt0.txt", "com10", ".hidden", "a..b",
      " lead", "dir\\BINTMP1.TMP", "PATCH.TMP", "PATCHx.TMP", "\xA4\xA4\xA4\xE5/\xC0\xC9\xAE\xD7.txt", kXu,
      "dir\\" + kXu + "\\file"}},
};
// clang-format on

TEST(WindowsNames, EveryProblemIsFoundWherever) {
    for (const NameCase& c : kNames) {
        for (const std::string& name : c.names) {
            EXPECT_EQ(CheckPatchPath(name), c.problem) << name;
            EXPECT_EQ(CheckWindowsPath(name), c.problem == P::kWorkName ? P::kNone : c.problem)
                << name;
        }
    }
}

// The applier's reader holds file, source and obsolete names to the same rule.
TEST(WindowsNames, TheRecordReaderRefusesEveryBadName) {
    for (const NameCase& c : kNames) {
        const ReadRecordStatus expected =
            c.problem == P::kNone ? ReadRecordStatus::kOk : ReadRecordStatus::kUnsafeName;
        for (const std::string& name : c.names) {
            // Obsolete, new file, changed file, source name; an empty source
            // name stands for the file name.
            for (int kind = 0; kind < (name.empty() ? 3 : 4); ++kind) {
                RecordStreamWriter w;
                ChangedFile file;
                file.fileName = kind == 3 ? "ok.exe" : name;
                file.variants.resize(1);
                file.variants[0].sourceName = kind == 3 ? name : "";
                if (kind == 0) w.Obsolete(name);
                if (kind == 1) w.NewFile(name, Bytes{1, 2});
                if (kind >= 2) w.Changed(file);
                w.End();
                EXPECT_EQ(ReadAllRecords(w.bytes()), expected) << name << " kind " << kind;
            }
        }
    }
}

// The key is equal exactly when Windows takes two names for one file.
TEST(WindowsNames, KeysMatchWindowsComparison) {
    struct KeyCase {
        std::string a, b;
        bool same;
    };
    const KeyCase kKeys[] = {
        {"Readme2.TXT", "readme2.txt", true},
        {kBetaLower + "eta.txt", kBetaUpper + "ETA.TXT", true},
        {kWideA + "b", kWideUpperA + "B", true},
        {"\xC7\xCC", "\xC7\xB1", true},  // Cyrillic de, small and capital
        {"dir/sub\\f", "DIR\\SUB/F", true},
        {"a.txt.", "a.txt", true},
        {"d. \\f", "d\\f", true},
        {"a", kWideA, false},             // full-width is another letter
        {kBetaLower, "\xA3\x5C", false},  // alpha and beta
        {"\xA4\x61", "\xA4\x41", false},  // trail bytes are no ASCII letters
        {kXu + "x", "\xB3/x", false},
        {"ab", "a\\b", false},
        {"a b", "ab", false},
    };
    for (const KeyCase& k : kKeys) {
        EXPECT_EQ(WindowsNameKey(k.a) == WindowsNameKey(k.b), k.same) << k.a << " | " << k.b;
        EXPECT_EQ(PathsOverlap(k.a, k.b), k.same) << k.a << " | " << k.b;
    }
    // Every character of a run folds to its partner, whose key is itself; the
    // characters on either side of a run are no part of it.
    for (size_t i = 0; i < kCp950CaseRunCount; ++i) {
        const Cp950CaseRun& run = kCp950CaseRuns[i];
        for (uint16_t k = 0; k < run.count; ++k) {
            EXPECT_EQ(Cp950UpperCase(run.lower + k), run.upper + k);
            EXPECT_EQ(Cp950UpperCase(run.upper + k), run.upper + k);
        }
        EXPECT_EQ(Cp950UpperCase(run.lower - 1), run.lower - 1);
        EXPECT_EQ(Cp950UpperCase(run.lower + run.count), run.lower + run.count);
    }
}

TEST(WindowsNames, BackupMayNotMeetTheTreesOrTheApplierWorkNames) {
    struct BackupCase {
        std::string backup;
        std::vector<std::string> paths;
        NameProblem problem;
        std::string clash;
    };
    const BackupCase kBackups[] = {
        {"BACKUP", {"readme.txt", "doc\\a.txt"}, P::kNone, ""},
        {"readme.txt", {"doc\\a.txt", "README.TXT"}, P::kOverlapsTreePath, "README.TXT"},
        {"BACKUP", {"backup/readme.txt"}, P::kOverlapsTreePath, "backup/readme.txt"},
        {"old\\bk", {"old\\x.txt"}, P::kNone, ""},
        {"old\\bk", {"OLD"}, P::kOverlapsTreePath, "OLD"},
        {"back", {"backup\\x"}, P::kNone, ""},
        {"patch7.tmp\\b", {}, P::kWorkName, ""},
        {"..\\bk", {}, P::kDotComponent, ""},
    };
    for (const BackupCase& c : kBackups) {
        std::string clash = "stale";
        EXPECT_EQ(CheckBackupName(c.backup, c.paths, &clash), c.problem) << c.backup;
        EXPECT_EQ(clash, c.clash) << c.backup;
    }
}

// A second byte 0x5C is part of its character, never a separator.
TEST(ParentDirectories, SplitAsWindowsReadsTheName) {
    const std::string xu = "\xB3\x5C";  // one double-byte character
    EXPECT_EQ(ParentDirectories("a\\" + xu + "\\f.txt"),
              (std::vector<std::string>{"a\\" + xu, "a"}));
    EXPECT_EQ(ParentDirectories(xu + "b/f"), (std::vector<std::string>{xu + "b"}));
    EXPECT_TRUE(ParentDirectories("f.txt").empty());
}

}  // namespace
