#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>
#endif

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

// The test PE image made an applier the stub check takes: i386 (or x86-64)
// GUI with one section whose data is in the file.
std::string Stub(uint16_t machine = 0x14C, uint16_t subsystem = 2) {
    const bool plus = machine != 0x14C;
    Bytes image = PeImage(plus ? 0x20B : 0x10B, 3795);
    const uint32_t optional = kTestPeOffset + 24, section = optional + (plus ? 240 : 224);
    StoreLe16(&image[kTestPeOffset + 4], machine);
    StoreLe16(&image[kTestPeOffset + 6], 1);  // sections
    StoreLe16(&image[optional + 68], subsystem);
    StoreLe32(&image[section + 16], 0x100);  // raw size
    StoreLe32(&image[section + 20], 0x200);  // raw offset
    return std::string(image.begin(), image.end());
}

std::string Signed(const std::string& file) {
    Bytes copy = SignedCopy(Bytes(file.begin(), file.end()), 0x10B);
    return std::string(copy.begin(), copy.end());
}

// Three releases: prog.exe changes each time, old.txt is retired, and
// plugins/new.dll and 資料/說明.txt appear in the last.
class CommandsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ =
            fs::temp_directory_path() /
            ("mkpatch-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        Write("stub.exe", Stub());
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
        Write("v3/資料/說明.txt", "說明");
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

    // v1 and v2 to v3 with the test stub; extra may replace --new, --stub, -o.
    int Build(const std::string& output, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"build", "--old", P("v1"), "--old", P("v2"), "--quiet"};
        const std::pair<const char*, std::string> kDefaults[] = {
            {"--new", P("v3")}, {"--stub", P("stub.exe")}, {"-o", P(output)}};
        for (const auto& [option, value] : kDefaults) {
            if (std::find(extra.begin(), extra.end(), option) == extra.end()) {
                args.insert(args.end(), {option, value});
            }
        }
        args.insert(args.end(), extra.begin(), extra.end());
        return Run(args);
    }

    PatchContents ReadBack(const std::string& relative) {
        Bytes file;
        std::string error;
        PatchContents patch;
        EXPECT_TRUE(ReadFileBytes(P(relative), &file, &error) && ReadPatch(file, &patch, &error))
            << error;
        return patch;
    }

    // What is left in the directory beside the output: no temporary files.
    std::string Leftovers() const {
        std::string names;
        for (const auto& e : fs::directory_iterator(root_)) {
            if (e.path().extension() == ".tmp") names += e.path().filename().string() + " ";
        }
        return names;
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
    Write("signed.exe", Signed(patch));
    for (const char* file : {"p.exe", "signed.exe"}) {
        ASSERT_EQ(Run({"inspect", P(file)}), kExitOk) << err_.str();
        for (const char* line :
             {"changed  prog.exe", "from version 1 (size", "to version 2",
              "changed  doc\\readme.txt", "new      plugins\\new.dll", "new      資料\\說明.txt",
              "obsolete old.txt", "totals: 2 changed (4 versions"}) {
            EXPECT_TRUE(Contains(out_.str(), line)) << file;
        }
        const char* kVerdicts[][2] = {{"v1", "prog.exe: rebuildable from version 1"},
                                      {"v2", "prog.exe: rebuildable from version 2"},
                                      {"v3", "資料\\說明.txt: new file, replaces"},
                                      {"v3", "prog.exe: already new"}};
        for (const auto& verdict : kVerdicts) {
            EXPECT_EQ(Run({"verify", P(file), P(verdict[0])}), kExitOk) << err_.str();
            EXPECT_TRUE(Contains(out_.str(), verdict[1])) << file;
        }
    }
    ASSERT_EQ(Build("again.exe"), kExitOk);
    EXPECT_TRUE(Read("p.exe") == Read("again.exe")) << "same inputs, different bytes";
    // Names are matched as Windows matches them; a backup copy counts; a
    // foreign file and a missing one are told apart, and counted.
    fs::rename(root_ / "v3/資料/說明.txt", root_ / "v3/資料/說明.TXT.");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v3")}), kExitOk);
    EXPECT_TRUE(Contains(out_.str(), "資料\\說明.txt: new file, replaces"));
    fs::rename(root_ / "v1/doc", root_ / "v1/DOC");
    fs::rename(root_ / "v1/prog.exe", root_ / "v1/Prog.EXE");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v1")}), kExitOk);
    EXPECT_TRUE(Contains(out_.str(), "doc\\readme.txt: rebuildable from version 1"));
    fs::create_directories(root_ / "v1/BACKUP");
    fs::copy_file(root_ / "v1/Prog.EXE", root_ / "v1/BACKUP/prog.exe");
    Write("v1/Prog.EXE", "damaged");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v1")}), kExitOk);
    EXPECT_TRUE(Contains(out_.str(), "from version 1 (copy in the backup)"));
    fs::remove(root_ / "v1/BACKUP/prog.exe");
    fs::remove(root_ / "v1/DOC/readme.txt");
    EXPECT_EQ(Run({"verify", P("p.exe"), P("v1")}), kExitWouldFail);
    for (const char* line : {"prog.exe: FOREIGN", "doc\\readme.txt: MISSING", "1 foreign",
                             "1 missing", "would NOT apply"}) {
        EXPECT_TRUE(Contains(out_.str(), line));
    }
    EXPECT_EQ(Run({"verify", "--json", P("p.exe"), P("v1")}), kExitWouldFail);
    EXPECT_TRUE(Contains(out_.str(), "{\"name\":\"prog.exe\",\"verdict\":\"foreign\"}"));
    EXPECT_TRUE(Contains(out_.str(), "\"would_apply\":false}"));
}

TEST_F(CommandsTest, OptionsReachThePatchAndInspectShowsThem) {
    Write("notice.txt", "注意\n#%hidden\n");
    Write("description.txt", "說明一\n說明二\n");
    Write("a.reg", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\App]\n\"語言\"=\"中文\"\n");
    ASSERT_EQ(Build("p.exe", {"--notice", P("notice.txt"), "--description", P("description.txt"),
                              "--location", "registry", "--location-key", "HKLM\\Software\\App",
                              "--location-value", "Path", "--backup", "備份", "--optional", "doc/*",
                              "--registry", P("a.reg"), "--time-zone", "+08:00"}),
              kExitOk)
        << err_.str();
    PatchContents patch = ReadBack("p.exe");
    EXPECT_EQ(patch.notice, std::string("\xAA\x60\xB7\x4E\0#%hidden", 13));
    std::string flags;
    for (const CurrentRecord& r : patch.records) {
        if (r.kind != kFileRecord) continue;
        flags += r.fileName + ((r.fileHeader.fileFlags & kOptional) ? " optional " : " ");
        EXPECT_EQ(r.fileHeader.fileFlags & kHasSkipRange, 0);
    }
    EXPECT_TRUE(Contains(flags, "doc\\readme.txt optional"));
    EXPECT_TRUE(Contains(flags, "prog.exe "));
    ASSERT_EQ(Run({"inspect", P("p.exe")}), kExitOk) << err_.str();
    for (const char* line :
         {"target: registry, the value [Path] of HKEY_LOCAL_MACHINE\\Software\\App",
          "backup directory: 備份", "notice:\n  注意\n", "description:\n  說明一\n  說明二\n",
          "registry, written only when HKEY_LOCAL_MACHINE\\Software\\App [Path] exists",
          "HKEY_LOCAL_MACHINE\\Software\\App [語言] REG_SZ = 中文", "1 registry values"}) {
        EXPECT_TRUE(Contains(out_.str(), line));
    }
    EXPECT_FALSE(Contains(out_.str(), "hidden"));
    ASSERT_EQ(Run({"inspect", "--json", P("p.exe")}), kExitOk);
    for (const char* part :
         {"\"backup\":\"備份\"", "\"notice\":\"注意\\n#%hidden\"",
          "{\"root\":\"HKEY_LOCAL_MACHINE\",\"key\":\"Software\\\\App\",\"name\":"
          "\"語言\",\"type\":1,\"data\":\"中文\"}",
          "\"registry_values\":1}}"}) {
        EXPECT_TRUE(Contains(out_.str(), part));
    }
#ifndef _WIN32
    // File times are stored in the zone asked for, UTC by default.
    utimbuf when{1577934246, 1577934246};  // 2020-01-02 03:04:06 UTC
    ASSERT_EQ(utime(P("v3/doc/readme.txt").c_str(), &when), 0);
    const std::pair<std::vector<std::string>, uint32_t> kZones[] = {
        {{}, DosDateTime(2020, 1, 2, 3, 4, 6)},
        {{"--time-zone", "+08:00"}, DosDateTime(2020, 1, 2, 11, 4, 6)},
        {{"--time-zone", "-01:30"}, DosDateTime(2020, 1, 2, 1, 34, 6)}};
    for (const auto& [zone, stamp] : kZones) {
        ASSERT_EQ(Build("t.exe", zone), kExitOk) << err_.str();
        EXPECT_EQ(ReadBack("t.exe").records[0].fileHeader.newTime, stamp);
        fs::remove(root_ / "t.exe");
    }
#endif
}

// Every refusal exits 1 or 2 with a message, leaves an existing output as it
// was and no temporary file behind.
TEST_F(CommandsTest, BadInputIsRefusedAndWritesNothing) {
    Write("p.exe", "previous patch");
    Write("bad.txt", "fine\n\xF0\x9F\x98\x80\n");
    Write("registry-only-check.reg", "REGEDIT4\n[HKLM\\S]\n\"v\"=\"x\"\n");
    Write("few/prog.exe", "one file of three");
    Write("long.reg", "REGEDIT4\n[HKLM\\" + std::string(300, 'k') + "]\n\"v\"=\"x\"\n");
    fs::create_directories(root_ / "empty");
    const std::string kLong(300, 'k');
    struct Case {
        std::vector<std::string> extra;
        int code;
        const char* message;
    };
    const Case kCases[] = {
        {{"--description", P("bad.txt")}, kExitFailed, "bad.txt:2: character U+1F600"},
        {{"--registry", P("registry-only-check.reg")}, kExitFailed, "registered-software check"},
        {{"--backup", "a\\b"}, kExitFailed, "backup directory"},
        {{"--stub", P("missing.exe")}, kExitFailed, "missing.exe: no such file"},
        {{"--description", P("v1")}, kExitFailed, "a directory, where a file is expected"},
        {{"--notice", P("v1")}, kExitFailed, "a directory, where a file is expected"},
        {{"--registry", P("v1")}, kExitFailed, "a directory, where a file is expected"},
        {{"--stub", P("v1")}, kExitFailed, "a directory, where a file is expected"},
        {{"--new", P("v3/prog.exe")}, kExitFailed, "give files or directories on both sides"},
        {{"--new", P("nowhere")}, kExitFailed, "nowhere: no such file or directory"},
        {{"--new", P("empty")}, kExitFailed, "retires 3 of 3 old files"},
        {{"--new", P("few")}, kExitFailed, "pass --allow-removals"},
        {{"--location", "registry", "--location-key", "HKLM\\" + kLong},
         kExitFailed,
         "--location-key is 300 bytes in code page 950; at most 255 fit"},
        {{"--location", "registry", "--location-key", "HKLM\\S", "--location-value", kLong},
         kExitFailed,
         "--location-value is 300 bytes"},
        {{"--registry", P("registry-only-check.reg"), "--registry-check", "HKLM\\" + kLong},
         kExitFailed,
         "--registry-check is 300 bytes"},
        {{"--registry", P("long.reg"), "--registry-check", "HKLM\\S"},
         kExitFailed,
         "longer than 255 bytes"},
        {{"--name", "x.exe"}, kExitUsage, "--name applies to single files only"},
        {{"--location-key", "HKLM\\S"}, kExitUsage, "has no effect without --location registry"},
        {{"--registry-check-value", "v"}, kExitUsage, "has no effect"},
        {{"--keep-obsolete", "--allow-removals"}, kExitUsage, "--allow-removals has no effect"},
        {{"--no-times", "--time-zone", "local"}, kExitUsage, "--time-zone has no effect"},
        {{"--time-zone", "+8h"}, kExitUsage, "--time-zone must be"},
        {{"--verbose"}, kExitUsage, "exclude each other"},
        {{"--new", P("v3"), "--new", P("v2")}, kExitUsage, "--new is given twice"},
        {{"-o", P("p.exe")}, kExitFailed, "exists; pass -f (--force)"},
        {{"-o", P("stub.exe")}, kExitFailed, "would replace the input"},
        {{"-o", P("bad.txt"), "--notice", P("bad.txt")}, kExitFailed, "would replace the input"},
        {{"-o", P("v1/prog.exe")}, kExitFailed, "inside that tree"},
        {{"-o", P("v3/new.exe")}, kExitFailed, "inside that tree"},
        {{"-o", P("v2")}, kExitFailed, "not a file that can be written"},
        {{"-o", P("no/such/dir/p.exe")}, kExitFailed, "does not exist"},
    };
    const std::string before = Read("v1/prog.exe") + Read("stub.exe") + Read("bad.txt");
    for (const Case& c : kCases) {
        std::vector<std::string> extra = c.extra;
        if (!Contains(c.message, "pass -f")) extra.push_back("-f");
        EXPECT_EQ(Build("p.exe", extra), c.code) << c.message;
        EXPECT_TRUE(Contains(err_.str(), c.message));
        EXPECT_EQ(Read("p.exe"), "previous patch");
        EXPECT_EQ(Leftovers(), "");
    }
    EXPECT_EQ(Read("v1/prog.exe") + Read("stub.exe") + Read("bad.txt"), before);
    EXPECT_FALSE(fs::exists(root_ / "v3/new.exe"));
    EXPECT_FALSE(fs::exists(root_ / "no"));
    // What the guards refuse by default goes through when asked for.
    EXPECT_EQ(Build("p.exe", {"--new", P("few"), "--allow-removals", "-f"}), kExitOk) << err_.str();
}

TEST_F(CommandsTest, OnlyAWholeBareGuiApplierIsAStub) {
    ASSERT_EQ(Build("patch.exe"), kExitOk) << err_.str();
    std::string cut = Stub();
    cut.resize(0x250);  // the section ends at 0x300
    const std::pair<std::string, const char*> kStubs[] = {
        {"\x7f"
         "ELF" +
             std::string(200, '\0'),
         "no MZ header"},
        {"just some text, long enough to hold an MZ header offset and more of it.", "no MZ"},
        {"", "no MZ header"},
        {std::string("MZ") + std::string(100, '\0'), "no PE header"},
        {Stub(0x8664), "not a 32-bit (i386) Windows program"},
        {Stub(0x14C, 3), "not a Windows GUI program"},
        {cut, "cut short"},
        {Read("patch.exe"), "already carries a patch"},
        {Signed(Read("patch.exe")), "already carries a patch"},
    };
    for (const auto& [stub, message] : kStubs) {
        Write("bad-stub.exe", stub);
        EXPECT_EQ(Build("p.exe", {"--stub", P("bad-stub.exe")}), kExitFailed) << message;
        EXPECT_TRUE(Contains(err_.str(), message));
        EXPECT_TRUE(Contains(err_.str(), "pass --stub FILE"));
    }
    EXPECT_FALSE(fs::exists(root_ / "p.exe"));
    Write("bad-stub.exe", Stub(0x8664));
    EXPECT_EQ(Build("p.exe", {"--stub", P("bad-stub.exe"), "--allow-64bit-stub"}), kExitOk);
    // Without --stub, the applier beside the program is taken, and checked.
    std::vector<std::string> args = {"build", "--old",   P("v2"), "--new",
                                     P("v3"), "--quiet", "-o",    P("p1.exe")};
    Write("applier.exe", Stub());
    EXPECT_EQ(Run(args), kExitOk) << err_.str();
    args.back() = P("applier.exe");
    args.push_back("-f");
    EXPECT_EQ(Run(args), kExitFailed);
    EXPECT_TRUE(Contains(err_.str(), "would replace the input"));
    args.pop_back();
    Write("applier.exe", "not an applier");
    args.back() = P("p2.exe");
    EXPECT_EQ(Run(args), kExitFailed);
    EXPECT_TRUE(Contains(err_.str(), "applier.exe is no applier"));
}

// Two single files are one file, under the new name or the one given.
TEST_F(CommandsTest, TwoFilesAreOneChangedFile) {
    fs::copy_file(root_ / "v1/prog.exe", root_ / "tool-1.0.exe");
    fs::copy_file(root_ / "v3/prog.exe", root_ / "tool-2.0.exe");
    const std::pair<std::vector<std::string>, const char*> kCases[] = {
        {{}, "tool-2.0.exe"}, {{"--name", "bin/tool.exe"}, "bin\\tool.exe"}};
    for (const auto& [extra, name] : kCases) {
        std::vector<std::string> args = {"build",           "--old",  P("tool-1.0.exe"), "--new",
                                         P("tool-2.0.exe"), "--stub", P("stub.exe"),     "-f",
                                         "--quiet",         "-o",     P("p.exe")};
        args.insert(args.end(), extra.begin(), extra.end());
        ASSERT_EQ(Run(args), kExitOk) << err_.str();
        PatchContents patch = ReadBack("p.exe");
        ASSERT_EQ(patch.records.size(), 1u);
        EXPECT_EQ(patch.records[0].kind, kFileRecord);
        EXPECT_EQ(patch.records[0].fileName, name);
    }
}

#ifndef _WIN32
// Links are refused by name unless followed, and then only inside the tree;
// special files are reported; a link standing in the output's place is not
// followed.
TEST_F(CommandsTest, LinksAndSpecialFilesAreNeverTakenSilently) {
    Write("outside.txt", "secret");
    struct Case {
        void (*make)(const fs::path& v3);
        std::vector<std::string> extra;
        const char* message;  // empty: builds
    };
    const Case kCases[] = {
        {[](const fs::path& v3) { fs::create_symlink("../outside.txt", v3 / "out.txt"); },
         {},
         "v3x/out.txt: a symbolic link; pass --follow-links"},
        {[](const fs::path& v3) { fs::create_symlink("../outside.txt", v3 / "out.txt"); },
         {"--follow-links"},
         "outside the tree"},
        {[](const fs::path& v3) { fs::create_symlink("gone.txt", v3 / "dangling.txt"); },
         {"--follow-links"},
         "v3x/dangling.txt: a link to nothing"},
        {[](const fs::path& v3) { fs::create_directory_symlink("..", v3 / "up"); },
         {"--follow-links"},
         "v3x/up: a link to"},
        {[](const fs::path& v3) { fs::create_directory_symlink(".", v3 / "plugins/self"); },
         {"--follow-links"},
         "v3x/plugins/self: a link leads back into its own directory"},
        {[](const fs::path& v3) { fs::create_directory_symlink("plugins", v3 / "extra"); },
         {"--follow-links"},
         ""},
        {[](const fs::path& v3) { fs::create_symlink("../outside.txt", v3 / "out.txt"); },
         {"--exclude", "out.*"},
         ""},
        {[](const fs::path& v3) { mkfifo((v3 / "pipe").c_str(), 0600); },
         {},
         "v3x/pipe: a named pipe, which a patch cannot carry"},
    };
    for (const Case& c : kCases) {
        fs::remove_all(root_ / "v3x");
        fs::copy(root_ / "v3", root_ / "v3x", fs::copy_options::recursive);
        c.make(root_ / "v3x");
        std::vector<std::string> extra = {"--new", P("v3x"), "-f"};
        extra.insert(extra.end(), c.extra.begin(), c.extra.end());
        int code = Build("p.exe", extra);
        std::string message = c.message;
        if (message.empty()) {
            EXPECT_EQ(code, kExitOk) << err_.str();
        } else {
            EXPECT_EQ(code, kExitFailed) << message;
            EXPECT_TRUE(Contains(err_.str(), message));
        }
    }
    ASSERT_EQ(Run({"inspect", P("p.exe")}), kExitOk);
    EXPECT_FALSE(Contains(out_.str(), "out.txt"));
    // A link where a temporary output name might be: never written through.
    for (int k = 0; k < 3; ++k) {
        fs::create_symlink(root_ / "outside.txt", root_ / (".q.exe." + std::to_string(getpid()) +
                                                           "-" + std::to_string(k) + ".tmp"));
    }
    EXPECT_EQ(Build("q.exe"), kExitOk) << err_.str();
    EXPECT_EQ(Read("outside.txt"), "secret");
}
#endif

// inspect and verify refuse a body that inflates far beyond its size; a
// patch that reads back fine is shown with warnings about unused patterns.
TEST_F(CommandsTest, ReadingIsBoundedAndWarningsAreGiven) {
    PatchFileOptions options;
    options.level = 1;
    Write("bomb.exe", "");
    {
        Bytes payload(kPayloadFloorLimit + 1, 0);
        Bytes bomb = BuildPatchFile(Bytes(4), payload, 0, 0, options);
        std::ofstream(root_ / "bomb.exe", std::ios::binary)
            .write(reinterpret_cast<const char*>(bomb.data()), bomb.size());
    }
    for (auto args : {std::vector<std::string>{"inspect", P("bomb.exe")},
                      std::vector<std::string>{"verify", P("bomb.exe"), P("v1")}}) {
        EXPECT_EQ(Run(args), kExitFailed);
        EXPECT_TRUE(Contains(err_.str(), "far beyond its compressed size; refused"));
    }
    const std::pair<std::vector<std::string>, const char*> kWarnings[] = {
        {{"--optional", "*.dll"}, "warning: --optional *.dll matches no changed file"},
        {{"--silent", "nothing*"}, "warning: --silent nothing* matches no changed file"},
        {{"--exclude", "*.pdb"}, "warning: --exclude *.pdb matches nothing"},
    };
    for (const auto& [extra, warning] : kWarnings) {
        EXPECT_EQ(Build("p.exe", extra), kExitOk) << err_.str();
        EXPECT_TRUE(Contains(err_.str(), warning));
        fs::remove(root_ / "p.exe");
    }
    EXPECT_EQ(Run({"build", "--old", P("v2"), "--new", P("v2"), "--stub", P("stub.exe"), "-o",
                   P("p.exe")}),
              kExitOk);
    EXPECT_TRUE(Contains(err_.str(), "warning: the patch changes nothing"));
}

TEST_F(CommandsTest, CommandLineErrorsAreOneLineAndAHint) {
    const std::vector<std::string> kWrong[] = {
        {},
        {"frobnicate"},
        {"build", "--old", P("v1")},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--location", "moon"},
        {"inspect", P("a"), P("b")},
        {"verify", "--bogus", P("a"), P("b")},
        {"verify", "--quiet", "--verbose", P("a"), P("b")},
        {"inspect", "--json", "--quiet", P("a")},
        {"build", "--old", P("v1/prog.exe"), "--new", P("v3/prog.exe"), "-o", P("x"), "--exclude",
         "*.pdb"}};
    for (const auto& args : kWrong) {
        EXPECT_EQ(Run(args), kExitUsage) << args.size();
        const std::string err = err_.str();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
        EXPECT_TRUE(Contains(err_.str(), "try 'mkpatch --help'"));
    }
    EXPECT_EQ(Run({"--version"}), kExitOk);
    EXPECT_TRUE(Contains(out_.str(), "mkpatch "));
    EXPECT_EQ(Run({"build", "--help"}), kExitOk);
    for (const char* part : {"-o, --output FILE", "--time-zone", "--exclude", "--force"}) {
        EXPECT_TRUE(Contains(out_.str(), part));
    }
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
