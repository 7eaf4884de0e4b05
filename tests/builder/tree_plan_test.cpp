#include <gtest/gtest.h>

#include "builder/lib/patch_build.h"
#include "builder/lib/tree_plan.h"

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

// Windows sees one file where Linux sees two names differing in case: renaming
// the case must not retire the file that was just installed.
TEST(TreePlan, NamesDifferingOnlyInCaseAreOneFile) {
    std::vector<Tree> olds = {{{"App.DLL", F("old")}}};
    Tree newer = {{"app.dll", F("new")}};
    TreePlan plan;
    std::string error;
    ASSERT_TRUE(PlanTrees(olds, newer, false, &plan, &error));
    ASSERT_EQ(plan.changed.size(), 1u);
    EXPECT_EQ(plan.changed[0].name, "app.dll");
    EXPECT_TRUE(plan.removed.empty());

    Tree clash = {{"a.txt", F("1")}, {"A.TXT", F("2")}};
    EXPECT_FALSE(PlanTrees(olds, clash, false, &plan, &error));
    EXPECT_NE(error.find("differ only in case"), std::string::npos);
}

TEST(TreePlan, PatternsMatchWithoutCaseAndAcrossSeparators) {
    const char* kMatches[][2] = {{"*.txt", "readme.TXT"},
                                 {"*.txt", "doc/readme.txt"},
                                 {"doc\\*", "doc/a.bin"},
                                 {"a*b*c", "axxbyyc"},
                                 {"", ""},
                                 {"*", "anything"}};
    for (const auto& m : kMatches) EXPECT_TRUE(MatchesPattern(m[0], m[1])) << m[0] << " " << m[1];
    EXPECT_FALSE(MatchesPattern("?.dll", "ab.dll"));
    EXPECT_FALSE(MatchesPattern("a*b*c", "axxbyy"));
}

// The applier's tables hold 20 versions per file; more must not reach a patch.
TEST(TreePlan, MoreThanTwentyDistinctVersionsAreRefused) {
    std::vector<Tree> olds;
    for (int v = 0; v < 21; ++v) olds.push_back({{"a", F(std::to_string(v))}});
    Tree newer = {{"a", F("new")}};
    Bytes patch;
    BuildSummary summary;
    std::string error;
    EXPECT_FALSE(
        BuildPatch(olds, newer, PatchSettings{}, Bytes(), nullptr, &patch, &summary, &error));
    EXPECT_NE(error.find("21 distinct old versions"), std::string::npos) << error;
    olds.pop_back();
    EXPECT_TRUE(
        BuildPatch(olds, newer, PatchSettings{}, Bytes(), nullptr, &patch, &summary, &error))
        << error;
}

}  // namespace
