#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/lib/patch_build.h"
#include "builder/lib/patch_check.h"

namespace fs = std::filesystem;

namespace {

class CommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() /
            ("mkpatch-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        Write("stub.exe", std::string(4096, 'M'));
        std::mt19937 rng(5);
        std::string exe(60000, '\0');
        for (auto& c : exe) c = static_cast<char>(rng() % 7);
        for (int v = 1; v <= 3; ++v) {
            std::string version = "v" + std::to_string(v) + "/";
            exe[1000 * v] = static_cast<char>(v);
            exe.insert(30000, std::string(100 * v, 'x'));
            Write(version + "prog.exe", exe);
            Write(version + "doc/readme.txt", "release " + std::to_string(v) + "\n");
            if (v < 3) Write(version + "old.txt", "retired");
        }
        Write("v3/plugins/new.dll", "fresh file");
    }
    void TearDown() override { fs::remove_all(root_); }

    std::string P(const std::string& relative) const { return (root_ / relative).string(); }

    void Write(const std::string& relative, const std::string& content) {
        fs::path path = root_ / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << content;
    }

    std::string Read(const std::string& relative) const {
        std::ifstream in(root_ / relative, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    int Run(std::vector<std::string> args) {
        out_.str("");
        err_.str("");
        return RunCommandLine(args, P("mkpatch"), out_, err_);
    }

    int Build(const std::string& output, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"build",   "--old",  P("v1"),       "--old",
                                         P("v2"),   "--new",  P("v3"),       "-o",
                                         P(output), "--stub", P("stub.exe"), "--quiet"};
        args.insert(args.end(), extra.begin(), extra.end());
        return Run(args);
    }

    fs::path root_;
    std::ostringstream out_, err_;
};

TEST_F(CommandsTest, BuildsAPatchThatEveryOldVersionCanTake) {
    ASSERT_EQ(Build("p.exe"), kExitOk) << err_.str();
    EXPECT_EQ(Read("p.exe").compare(0, 4096, std::string(4096, 'M')), 0);

    ASSERT_EQ(Run({"inspect", P("p.exe")}), kExitOk) << err_.str();
    const std::string listing = out_.str();
    EXPECT_NE(listing.find("changed  prog.exe"), std::string::npos);
    EXPECT_NE(listing.find("from version 2"), std::string::npos);
    EXPECT_NE(listing.find("changed  doc\\readme.txt"), std::string::npos);
    EXPECT_NE(listing.find("new      plugins\\new.dll"), std::string::npos);
    EXPECT_NE(listing.find("obsolete old.txt"), std::string::npos);

    struct Case {
        const char* dir;
        int exit;
        const char* expected;
    };
    const Case cases[] = {
        {"v1", kExitOk, "prog.exe: rebuildable from version 1"},
        {"v2", kExitOk, "prog.exe: rebuildable from version 2"},
        {"v3", kExitOk, "prog.exe: already new"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Run({"verify", P("p.exe"), P(c.dir)}), c.exit) << c.dir << err_.str();
        EXPECT_NE(out_.str().find(c.expected), std::string::npos) << out_.str();
    }
    Write("v1/prog.exe", "something else");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v1")}), kExitWouldFail);
    EXPECT_NE(out_.str().find("prog.exe: FOREIGN"), std::string::npos);
}

TEST_F(CommandsTest, VerifyFindsTheKnownVersionInTheBackup) {
    ASSERT_EQ(Build("p.exe"), kExitOk) << err_.str();
    fs::create_directories(root_ / "v1/BACKUP");
    fs::copy_file(root_ / "v1/prog.exe", root_ / "v1/BACKUP/prog.exe");
    Write("v1/prog.exe", "damaged");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v1")}), kExitOk) << out_.str();
    EXPECT_NE(out_.str().find("from version 1 (copy in the backup)"), std::string::npos);
}

TEST_F(CommandsTest, OptionsReachThePatch) {
    Write("notice.txt", "注意\n#%hidden\n");
    Write("description.txt", "說明\n");
    Write("a.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\App]\n\"Lang\"=\"zh-TW\"\n");
    ASSERT_EQ(Build("p.exe", {"--notice", P("notice.txt"), "--description", P("description.txt"),
                              "--location", "registry", "--location-key", "HKLM\\Software\\App",
                              "--location-value", "Path", "--backup", "OLD", "--optional", "doc/*",
                              "--registry", P("a.reg")}),
              kExitOk)
        << err_.str();
    Bytes file;
    std::string error;
    PatchContents patch;
    ASSERT_TRUE(ReadFileBytes(P("p.exe"), &file, &error));
    ASSERT_TRUE(ReadPatch(file, &patch, &error)) << error;
    EXPECT_EQ(patch.notice, std::string("\xAA\x60\xB7\x4E\0#%hidden", 13));
    EXPECT_EQ(patch.location.kind, kRegistryValue);
    EXPECT_EQ(patch.location.rootKey, 0x80000002u);
    EXPECT_EQ(patch.location.keyPath, "Software\\App");
    EXPECT_EQ(patch.location.valueName, "Path");
    EXPECT_EQ(patch.backupName, "OLD");
    bool sawOptional = false, sawRegistry = false;
    for (const CurrentRecord& r : patch.records) {
        if (r.kind == kFileRecord && r.fileName == "doc\\readme.txt") {
            sawOptional = (r.fileHeader.fileFlags & kOptional) != 0;
        }
        if (r.kind == kFileRecord) {
            EXPECT_EQ(r.fileHeader.fileFlags & kHasSkipRange, 0);
        }
        sawRegistry = sawRegistry || r.kind == kRegistryRecord;
    }
    EXPECT_TRUE(sawOptional);
    EXPECT_TRUE(sawRegistry);
}

TEST_F(CommandsTest, SameInputsGiveTheSameBytes) {
    ASSERT_EQ(Build("a.exe"), kExitOk);
    ASSERT_EQ(Build("b.exe"), kExitOk);
    EXPECT_EQ(Read("a.exe"), Read("b.exe"));
}

// A failing build leaves an existing output untouched and no partial file.
TEST_F(CommandsTest, FailuresWriteNothing) {
    Write("p.exe", "previous patch");
    Write("bad.txt", "fine\n\xF0\x9F\x98\x80\n");
    Write("registry-only-check.reg", "REGEDIT4\n[HKLM\\S]\n\"v\"=\"x\"\n");
    struct Case {
        std::vector<std::string> extra;
        const char* expected;
    };
    const Case cases[] = {
        {{"--description", P("bad.txt")}, "bad.txt:2: character U+1F600"},
        {{"--registry", P("registry-only-check.reg")}, "registered-software check"},
        {{"--backup", "a\\b"}, "backup directory"},
        {{"--stub", P("missing.exe")}, "cannot open"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Build("p.exe", c.extra), kExitFailed);
        EXPECT_NE(err_.str().find(c.expected), std::string::npos) << err_.str();
        EXPECT_EQ(Read("p.exe"), "previous patch");
        EXPECT_FALSE(fs::exists(root_ / "p.exe.partial"));
    }
    EXPECT_EQ(Build("no/such/dir/p.exe"), kExitFailed);
    EXPECT_FALSE(fs::exists(root_ / "no"));
}

TEST_F(CommandsTest, CommandLineErrorsAreUsageErrors) {
    EXPECT_EQ(Run({}), kExitUsage);
    EXPECT_EQ(Run({"frobnicate"}), kExitUsage);
    EXPECT_EQ(Run({"build", "--old", P("v1")}), kExitUsage);
    EXPECT_EQ(
        Run({"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--location", "moon"}),
        kExitUsage);
    EXPECT_EQ(Run({"--help"}), kExitOk);
    EXPECT_NE(out_.str().find("usage:"), std::string::npos);
    EXPECT_EQ(Run({"inspect", P("stub.exe")}), kExitFailed);
    EXPECT_NE(err_.str().find("no patch payload"), std::string::npos);
}

TEST(PatchName, RefusesNamesTheApplierWouldMisread) {
    struct Case {
        const char* name;
        bool ok;
        const char* expected;
    };
    const Case cases[] = {
        {"dir/file.txt", true, "dir\\file.txt"},
        {"中文/檔案.txt", true, ""},
        {"許可.txt", false, "'\\' byte"},
        {"smile\xF0\x9F\x98\x80.txt", false, "cannot hold"},
        {"../up.txt", false, "leave the target"},
    };
    for (const Case& c : cases) {
        std::string out, error;
        EXPECT_EQ(PatchName(c.name, &out, &error), c.ok) << c.name;
        if (c.ok && *c.expected) {
            EXPECT_EQ(out, c.expected);
        }
        if (!c.ok) {
            EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        }
    }
}

}  // namespace
