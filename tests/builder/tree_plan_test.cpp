#include <gtest/gtest.h>

#include <algorithm>

#include "builder/lib/tree_plan.h"
#include "tests/core/test_bytes.h"

namespace {

TreeFile F(const std::string& text) { return TreeFile{Bytes(text.begin(), text.end()), 0}; }

std::string Str(const Bytes* b) { return std::string(b->begin(), b->end()); }

// Distinct older contents are chained oldest first; a file some old version
// lacks travels whole; files the new version lacks are retired unless kept.
TEST(TreePlan, ChainsDistinctOlderVersionsOldestFirst) {
    // v1 and v3 share a.txt's content; v2 differs; v4 already has the new one.
    std::vector<Tree> olds = {
        {{"a.txt", F("one")}, {"same.txt", F("s")}, {"gone.txt", F("g")}},
        {{"a.txt", F("two")}, {"same.txt", F("s")}, {"plug/in.dll", F("old")}},
        {{"a.txt", F("one")}, {"same.txt", F("s")}},
        {{"a.txt", F("new")}, {"same.txt", F("s")}},
    };
    Tree newer = {{"a.txt", F("new")}, {"same.txt", F("s")}, {"plug/in.dll", F("new")}};
    TreePlan plan;
    std::string error;
    ASSERT_TRUE(PlanTrees(olds, newer, false, &plan, &error)) << error;
    ASSERT_EQ(plan.changed.size(), 1u);
    ASSERT_EQ(plan.changed[0].versions.size(), 2u);
    EXPECT_EQ(Str(plan.changed[0].versions[0]) + Str(plan.changed[0].versions[1]), "onetwo");
    ASSERT_EQ(plan.added.size(), 1u);
    EXPECT_EQ(plan.added[0].name, "plug/in.dll");
    EXPECT_EQ(plan.removed, std::vector<std::string>{"gone.txt"});
    ASSERT_TRUE(PlanTrees(olds, newer, true, &plan, &error));
    EXPECT_TRUE(plan.removed.empty());
}

std::vector<std::string> Names(const TreePlan& plan) {
    std::vector<std::string> names;
    for (const auto& c : plan.changed) names.push_back("~" + c.name);
    for (const auto& a : plan.added) names.push_back("+" + a.name);
    for (const auto& r : plan.removed) names.push_back("-" + r);
    return names;
}

// Windows sees one file where Linux sees two names differing in case, for
// every letter code page 950 holds: a case-only rename is the same file under
// the new spelling, never a new file plus the retirement of the installed one.
TEST(TreePlan, NamesDifferingOnlyInCaseAreOneFile) {
    const std::tuple<std::string, std::string, std::string, std::vector<std::string>> kCases[] = {
        {"App.DLL", "app.dll", "old", {"~app.dll"}},
        {"Readme2.TXT", "readme2.txt", "new", {}},
        {"Βeta.txt", "βeta.txt", "old", {"~βeta.txt"}},
        {"Doc/a.txt", "doc/A.txt", "old", {"~doc/A.txt"}},
        {"a.txt", "ａ.txt", "old", {"+ａ.txt", "-a.txt"}},  // full-width is another letter
    };
    for (const auto& [oldName, newName, oldContent, expected] : kCases) {
        TreePlan plan;
        std::string error;
        ASSERT_TRUE(
            PlanTrees({{{oldName, F(oldContent)}}}, {{newName, F("new")}}, false, &plan, &error))
            << error;
        EXPECT_EQ(Names(plan), expected) << newName;
    }
}

// Every name the applier would refuse, or two names Windows would merge, is an
// error naming the file, in the new tree and in an old one.
TEST(TreePlan, NamesWindowsCannotHoldAreRefusedByName) {
    // One name per kind of refusal, all in one tree, as every problem is
    // reported at once; which names are bad is the name check's own table,
    // this one proves both trees reach it and the error says which.
    // clang-format off
    const std::string kBad[] = {
        "a.txt", "A.TXT", "Βeta", "βeta", "a", "A/b", "aux/readme.txt", "trail ", "q?x", "bintmp2.tmp",
        "許可.txt" /* its second byte in code page 950 is '\\' */, "smile\xF0\x9F\x98\x80.txt", "../up.txt"};
    // clang-format on
    Tree bad;
    for (const std::string& name : kBad) bad[name] = F("x");
    for (bool inOld : {false, true}) {
        TreePlan plan;
        std::string error;
        EXPECT_FALSE(inOld ? PlanTrees({bad}, {}, true, &plan, &error)
                           : PlanTrees({}, bad, false, &plan, &error));
        for (const std::string& name : kBad) {
            EXPECT_NE(error.find("\"" + name + "\""), std::string::npos) << name << ": " << error;
        }
    }
}

// A file that becomes a directory between versions, or the reverse: what
// stands in the way is retired ahead of everything else, so the applier
// moves it into the backup before the new file or directory is made; the
// patch writes those obsolete records first. Kept by --keep-obsolete, it
// would stay in the way: refused by name.
TEST(TreePlan, FileAndDirectoryTradePlacesOnceTheOldOneIsRetired) {
    // olds, newer, removed (in the order written), retiredFirst
    // clang-format off
    const std::tuple<std::vector<Tree>, Tree, std::vector<std::string>, size_t> cases[] = {
        {{{{"x", F("o")}, {"gone", F("g")}}}, {{"x/in.txt", F("n")}}, {"x", "gone"}, 1},
        {{{{"x/in.txt", F("o")}, {"x/sub/deep.txt", F("d")}, {"a.txt", F("a")}}}, {{"X", F("n")}},
         {"x/in.txt", "x/sub/deep.txt", "a.txt"}, 2},
        {{{{"d/x", F("o")}, {"keep", F("k")}}}, {{"d/X/deeper/in.txt", F("n")}, {"keep", F("k")}},
         {"d/x"}, 1},
        {{{{"x", F("o")}}, {{"x/in.txt", F("o")}}}, {{"x/in.txt", F("n")}}, {"x"}, 1},
        // A directory that merely gains or loses files is no such change.
        {{{{"x/a", F("o")}, {"b", F("b")}}}, {{"x/b", F("n")}, {"y", F("n")}}, {"b", "x/a"}, 0},
    };
    // clang-format on
    for (const auto& [olds, newer, removed, retiredFirst] : cases) {
        SCOPED_TRACE(removed.front());
        TreePlan plan;
        std::string error;
        ASSERT_TRUE(PlanTrees(olds, newer, false, &plan, &error)) << error;
        EXPECT_EQ(plan.removed, removed);
        EXPECT_EQ(plan.retiredFirst, retiredFirst);
        if (retiredFirst == 0) continue;
        EXPECT_FALSE(PlanTrees(olds, newer, true, &plan, &error));
        EXPECT_NE(error.find("--keep-obsolete"), std::string::npos) << error;
    }
    // Written: the way cleared, then the new file, then the other retirements.
    PatchContents contents;
    std::string error;
    ASSERT_TRUE(BuildAndRead(std::get<0>(cases[0]), std::get<1>(cases[0]), PatchSettings{},
                             &contents, &error))
        << error;
    std::vector<std::string> written;
    for (const CurrentRecord& r : contents.records) written.push_back(r.fileName);
    EXPECT_EQ(written, (std::vector<std::string>{"x", "x\\in.txt", "gone"}));
}

// All problems of all trees in one error, each once, the list capped; and a
// name whose case alone changes is noted for a warning.
TEST(TreePlan, EveryNameProblemIsReportedInOneRun) {
    Tree newer, older;
    for (const char* name : {"CON.txt", "q?x", "ok.txt", "trail "}) newer[name] = F("n");
    for (const char* name : {"CON.txt", "nul", "Ok.TXT"}) older[name] = F("o");
    TreePlan plan;
    std::string error;
    EXPECT_FALSE(PlanTrees({older}, newer, false, &plan, &error));
    EXPECT_EQ(error.find("4 names cannot go into a patch:\n  file name \"CON.txt\""), 0u) << error;
    for (const char* name : {"\"q?x\"", "\"trail \"", "\"nul\""}) {
        EXPECT_NE(error.find(name), std::string::npos) << error;
    }
    Tree many;
    for (size_t i = 0; i < kNameProblemsListed + 5; ++i)
        many["bad" + std::to_string(i) + "?"] = F("x");
    EXPECT_FALSE(PlanTrees({}, many, false, &plan, &error));
    EXPECT_NE(error.find("25 names cannot go into a patch"), std::string::npos);
    EXPECT_NE(error.find("\n  ... and 5 more"), std::string::npos) << error;
    EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 21);

    ASSERT_TRUE(PlanTrees({{{"Ok.TXT", F("o")}}, {{"ok.txt", F("o")}}}, {{"OK.txt", F("n")}}, false,
                          &plan, &error))
        << error;
    using Rename = std::pair<std::string, std::string>;
    EXPECT_EQ(plan.caseRenames, (std::vector<Rename>{{"Ok.TXT", "OK.txt"}, {"ok.txt", "OK.txt"}}));
}

// The backup directory may not be a name Windows refuses, one the applier
// uses for itself, or on, above or below a file of any tree.
TEST(TreePlan, BackupNameClashesAreRefused) {
    const std::tuple<std::string, std::string, std::string, std::string> kCases[] = {
        {"BACKUP", "readme.txt", "doc/a.txt", ""},
        {"CON", "a", "a", "device"},
        {"sub/dir", "a", "a", "one plain"},
        {"readme.txt", "a", "README.TXT", "\"README.TXT\""},
        {"BACKUP", "backup/readme.txt", "a", "\"backup/readme.txt\""},
        {"Βeta", "βETA", "a", "\"βETA\""},
        {"BinTmp1.tmp", "a", "a", "own work"},
    };
    for (const auto& [backup, oldName, newName, message] : kCases) {
        PatchSettings settings;
        settings.backupName = backup;
        PatchContents contents;
        std::string error;
        EXPECT_EQ(BuildAndRead({{{oldName, F("old")}}}, {{newName, F("new")}}, settings, &contents,
                               &error),
                  message.empty())
            << backup;
        EXPECT_NE(error.find(message), std::string::npos) << backup << ": " << error;
    }
}

TEST(TreePlan, PatternsMatchWithoutCaseAndAcrossSeparators) {
    // clang-format off
    const std::tuple<const char*, const char*, bool> kPatterns[] = {
        {"*.txt", "readme.TXT", true}, {"*.txt", "doc/readme.txt", true}, {"doc\\*", "doc/a.bin", true},
        {"a*b*c", "axxbyyc", true}, {"", "", true}, {"*", "anything", true},
        {"?.dll", "ab.dll", false}, {"a*b*c", "axxbyy", false}};
    // clang-format on
    for (const auto& [pattern, name, matches] : kPatterns) {
        EXPECT_EQ(MatchesPattern(pattern, name), matches) << pattern << " " << name;
    }
}

// The applier's tables hold 20 versions per file; more must not reach a patch.
TEST(TreePlan, MoreThanTwentyDistinctVersionsAreRefused) {
    std::vector<Tree> olds;
    for (int v = 0; v < 21; ++v) olds.push_back({{"a", F(std::to_string(v))}});
    PatchContents contents;
    std::string error;
    EXPECT_FALSE(BuildAndRead(olds, {{"a", F("new")}}, PatchSettings{}, &contents, &error));
    EXPECT_NE(error.find("21 distinct old versions"), std::string::npos) << error;
    olds.pop_back();
    EXPECT_TRUE(BuildAndRead(olds, {{"a", F("new")}}, PatchSettings{}, &contents, &error)) << error;
}

// Progress moves forward only, stays within the total, reports inside a
// large file (two versions chained), and ends with the step that has no file.
TEST(TreePlan, ProgressCountsTheBytesComparedAndEndsWithTheTotal) {
    Bytes big(3u << 20);
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    Tree v1 = {{"big.bin", TreeFile{big, 0}}, {"small.txt", F("one")}};
    big[1000] ^= 1;
    Tree v2 = {{"big.bin", TreeFile{big, 0}}, {"small.txt", F("two")}};
    big[2000000] ^= 1;
    Tree v3 = {{"big.bin", TreeFile{big, 0}}, {"small.txt", F("three")}, {"new.txt", F("n")}};
    std::vector<BuildProgressEvent> events;
    std::vector<std::string> names;  // an event's name lives only during the call
    BuildProgress progress = [&](const BuildProgressEvent& e) {
        events.push_back(e);
        names.push_back(e.name != nullptr ? *e.name : "");
    };
    Bytes patch;
    BuildSummary summary;
    std::string error;
    ASSERT_TRUE(
        BuildPatch({v1, v2}, v3, PatchSettings{}, Bytes(), progress, &patch, &summary, &error))
        << error;
    ASSERT_GE(events.size(), 4u);
    const uint64_t total = 3 * big.size() + 3 + 3 + 5 + 1;
    size_t inside = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].total, total);
        EXPECT_LE(events[i].done, total);
        EXPECT_GE(events[i].done, i > 0 ? events[i - 1].done : 0);
        if (names[i] == "big.bin" && events[i].done > 0 && events[i].done < 3 * big.size()) {
            ++inside;
        }
    }
    EXPECT_GE(inside, 2u) << "no sign of life inside the large file";
    EXPECT_EQ(events.back().name, nullptr);
    EXPECT_EQ(events.back().file, 3u);
    EXPECT_EQ(events.back().done, total);
}

}  // namespace
