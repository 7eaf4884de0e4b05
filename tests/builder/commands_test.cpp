#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/lib/patch_build.h"
#include "builder/lib/patch_check.h"
#include "tests/core/test_bytes.h"

namespace fs = std::filesystem;

namespace {

::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
}

// Three releases: prog.exe changes each time, old.txt is retired and
// plugins/new.dll appears in the last.
class CommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() /
            ("mkpatch-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        const Bytes stub = PeImage(0x10B, 3795);
        Write("stub.exe", std::string(stub.begin(), stub.end()));
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
        fs::create_directories((root_ / relative).parent_path());
        std::ofstream(root_ / relative, std::ios::binary) << content;
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
    const std::string stub = Read("stub.exe"), patch = Read("p.exe");
    EXPECT_EQ(patch.compare(0, stub.size(), stub), 0);
    // A multiple of 8 long, so signing adds no padding; signed, it reads the same.
    EXPECT_EQ(patch.size() % 8, 0u);
    const Bytes signedPatch = SignedCopy(Bytes(patch.begin(), patch.end()), 0x10B);
    Write("signed.exe", std::string(signedPatch.begin(), signedPatch.end()));
    for (const char* file : {"p.exe", "signed.exe"}) {
        ASSERT_EQ(Run({"inspect", P(file)}), kExitOk) << err_.str();
        for (const char* line : {"changed  prog.exe", "from version 2", "changed  doc\\readme.txt",
                                 "new      plugins\\new.dll", "obsolete old.txt"}) {
            EXPECT_TRUE(Contains(out_.str(), line)) << file;
        }
        const char* kVerdicts[][2] = {{"v1", "prog.exe: rebuildable from version 1"},
                                      {"v2", "prog.exe: rebuildable from version 2"},
                                      {"v3", "prog.exe: already new"}};
        for (const auto& verdict : kVerdicts) {
            EXPECT_EQ(Run({"verify", P(file), P(verdict[0])}), kExitOk) << err_.str();
            EXPECT_TRUE(Contains(out_.str(), verdict[1])) << file;
        }
    }
    ASSERT_EQ(Build("again.exe"), kExitOk);
    EXPECT_TRUE(Read("p.exe") == Read("again.exe")) << "same inputs, different bytes";
    // The known version found in the backup counts; a foreign file does not.
    fs::create_directories(root_ / "v1/BACKUP");
    fs::copy_file(root_ / "v1/prog.exe", root_ / "v1/BACKUP/prog.exe");
    Write("v1/prog.exe", "damaged");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v1")}), kExitOk);
    EXPECT_TRUE(Contains(out_.str(), "from version 1 (copy in the backup)"));
    fs::remove(root_ / "v1/BACKUP/prog.exe");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v1")}), kExitWouldFail);
    EXPECT_TRUE(Contains(out_.str(), "prog.exe: FOREIGN"));
}

TEST_F(CommandsTest, OptionsReachThePatch) {
    Write("notice.txt", "注意\n#%hidden\n");
    Write("a.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\App]\n\"Lang\"=\"zh-TW\"\n");
    ASSERT_EQ(Build("p.exe", {"--notice", P("notice.txt"), "--location", "registry",
                              "--location-key", "HKLM\\Software\\App", "--location-value", "Path",
                              "--backup", "OLD", "--optional", "doc/*", "--registry", P("a.reg")}),
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
    EXPECT_EQ(patch.location.keyPath + "|" + patch.location.valueName, "Software\\App|Path");
    EXPECT_EQ(patch.backupName, "OLD");
    std::string flags;
    for (const CurrentRecord& r : patch.records) {
        if (r.kind == kRegistryRecord) flags += "registry ";
        if (r.kind != kFileRecord) continue;
        flags += r.fileName + ((r.fileHeader.fileFlags & kOptional) ? " optional " : " ");
        EXPECT_EQ(r.fileHeader.fileFlags & kHasSkipRange, 0);
    }
    EXPECT_TRUE(Contains(flags, "doc\\readme.txt optional"));
    EXPECT_TRUE(Contains(flags, "prog.exe "));
    EXPECT_TRUE(Contains(flags, "registry"));
}

// A failing build leaves an existing output untouched and no partial file.
TEST_F(CommandsTest, FailuresWriteNothing) {
    Write("p.exe", "previous patch");
    Write("bad.txt", "fine\n\xF0\x9F\x98\x80\n");
    Write("registry-only-check.reg", "REGEDIT4\n[HKLM\\S]\n\"v\"=\"x\"\n");
    const std::pair<std::vector<std::string>, const char*> kCases[] = {
        {{"--description", P("bad.txt")}, "bad.txt:2: character U+1F600"},
        {{"--registry", P("registry-only-check.reg")}, "registered-software check"},
        {{"--backup", "a\\b"}, "backup directory"},
        {{"--stub", P("missing.exe")}, "cannot open"},
    };
    for (const auto& [extra, message] : kCases) {
        EXPECT_EQ(Build("p.exe", extra), kExitFailed);
        EXPECT_TRUE(Contains(err_.str(), message));
        EXPECT_EQ(Read("p.exe"), "previous patch");
        EXPECT_FALSE(fs::exists(root_ / "p.exe.partial"));
    }
    EXPECT_EQ(Build("no/such/dir/p.exe"), kExitFailed);
    EXPECT_FALSE(fs::exists(root_ / "no"));
}

TEST_F(CommandsTest, CommandLineErrorsAreUsageErrors) {
    const std::vector<std::string> kWrong[] = {
        {},
        {"frobnicate"},
        {"build", "--old", P("v1")},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--location", "moon"}};
    for (const auto& args : kWrong) EXPECT_EQ(Run(args), kExitUsage) << args.size();
    EXPECT_EQ(Run({"--help"}), kExitOk);
    EXPECT_TRUE(Contains(out_.str(), "usage:"));
    EXPECT_EQ(Run({"inspect", P("stub.exe")}), kExitFailed);
    EXPECT_TRUE(Contains(err_.str(), "no patch payload"));
}

TEST(PatchName, RefusesNamesTheApplierWouldMisread) {
    std::string out, error;
    EXPECT_TRUE(PatchName("dir/file.txt", &out, &error));
    EXPECT_EQ(out, "dir\\file.txt");
    EXPECT_TRUE(PatchName("中文/檔案.txt", &out, &error)) << error;
    const char* kRefused[][2] = {{"許可.txt", "'\\' byte"},
                                 {"smile\xF0\x9F\x98\x80.txt", "cannot hold"},
                                 {"../up.txt", "leave the target"}};
    for (const auto& refused : kRefused) {
        EXPECT_FALSE(PatchName(refused[0], &out, &error)) << refused[0];
        EXPECT_TRUE(Contains(error, refused[1]));
    }
}

}  // namespace
