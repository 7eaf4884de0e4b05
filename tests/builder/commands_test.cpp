#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utime.h>

#include <chrono>
#include <csignal>
#include <thread>
#endif

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/cli/progress.h"
#include "builder/lib/patch_build.h"
#include "builder/lib/patch_check.h"
#include "tests/core/test_bytes.h"

namespace fs = std::filesystem;

namespace {

// Every part in text; a failure names the first one missing.
::testing::AssertionResult ContainsAll(const std::string& text,
                                       std::initializer_list<std::string> parts) {
    for (const std::string& part : parts) {
        if (text.find(part) == std::string::npos) {
            return ::testing::AssertionFailure() << "\"" << part << "\" not in:\n" << text;
        }
    }
    return ::testing::AssertionSuccess();
}
::testing::AssertionResult Contains(const std::string& text, const std::string& part) {
    return ContainsAll(text, {part});
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
    // The section's data runs to the file's end, as an applier's last one does.
    StoreLe32(&image[section + 16], static_cast<uint32_t>(image.size()) - 0x200);  // raw size
    StoreLe32(&image[section + 20], 0x200);                                        // raw offset
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
    void Write(const std::string& relative, const Bytes& content) {
        Write(relative, std::string(content.begin(), content.end()));
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
    // What a run that must end with `code` printed.
    std::string Output(std::vector<std::string> args, int code) {
        EXPECT_EQ(Run(args), code) << err_.str();
        return out_.str();
    }

    // v1 and v2 to v3 with the test stub; extra may replace --old, --new, --stub, -o.
    int Build(const std::string& output, std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {"build", "--quiet"};
        const std::pair<const char*, std::string> kDefaults[] = {{"--old", P("v1")},
                                                                 {"--old", P("v2")},
                                                                 {"--new", P("v3")},
                                                                 {"--stub", P("stub.exe")},
                                                                 {"-o", P(output)}};
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

    fs::path root_;
    std::ostringstream out_, err_;
};

TEST_F(CommandsTest, BuildsAPatchThatEveryOldVersionCanTake) {
    ASSERT_EQ(Build("p.exe"), kExitOk) << err_.str();
    const std::string stub = Read("stub.exe"), patch = Read("p.exe");
    EXPECT_EQ(patch.compare(0, stub.size(), stub), 0);
    // A multiple of 8 long, so signing adds no padding; signed, it reads the same.
    EXPECT_EQ(patch.size() % 8, 0u);
    // The padding is no part of the applier: inspect says what build said.
    const std::string applier = "applier " + std::to_string(stub.size());
    ASSERT_NE(stub.size() % 8, 0u);
    EXPECT_TRUE(Contains(Output({"inspect", P("p.exe")}, kExitOk), applier + " bytes (+"));
    EXPECT_TRUE(Contains(Output({"inspect", "--json", P("p.exe")}, kExitOk),
                         "\"applier_bytes\":" + std::to_string(stub.size()) + ","));
    Write("signed.exe", Signed(patch));
    for (const char* file : {"p.exe", "signed.exe"}) {
        ASSERT_EQ(Run({"inspect", P(file)}), kExitOk) << err_.str();
        EXPECT_TRUE(ContainsAll(out_.str(), {"changed  prog.exe", "from version 1 (size",
                                             "to version 2", "changed  doc\\readme.txt",
                                             "new      plugins\\new.dll", "new      資料\\說明.txt",
                                             "obsolete old.txt", "totals: 2 changed (4 versions"}))
            << file;
        const char* kVerdicts[][2] = {{"v1", "prog.exe: rebuildable from version 1"},
                                      {"v2", "prog.exe: rebuildable from version 2"},
                                      {"v3", "資料\\說明.txt: new file, replaces"},
                                      {"v3", "prog.exe: already new"}};
        for (const auto& verdict : kVerdicts) {
            EXPECT_TRUE(Contains(Output({"verify", P(file), P(verdict[0])}, kExitOk), verdict[1]))
                << file;
        }
    }
    ASSERT_EQ(Build("again.exe"), kExitOk);
    EXPECT_TRUE(Read("p.exe") == Read("again.exe")) << "same inputs, different bytes";
    // Names are matched as Windows matches them; a backup copy counts; a
    // foreign file and a missing one are told apart, and counted.
    fs::rename(root_ / "v3/資料/說明.txt", root_ / "v3/資料/說明.TXT.");
    EXPECT_TRUE(Contains(Output({"verify", P("p.exe"), P("v3")}, kExitOk),
                         "資料\\說明.txt: new file, replaces"));
    fs::rename(root_ / "v1/doc", root_ / "v1/DOC");
    fs::create_directories(root_ / "v1/BACKUP");
    fs::rename(root_ / "v1/prog.exe", root_ / "v1/BACKUP/Prog.EXE");
    Write("v1/PROG.exe", "damaged");  // found whatever its case, and foreign
    std::string out = Output({"verify", P("p.exe"), P("v1")}, kExitOk);
    EXPECT_TRUE(Contains(out, "doc\\readme.txt: rebuildable from version 1"));
    EXPECT_TRUE(Contains(out, "from version 1 (copy in the backup)"));
    fs::remove(root_ / "v1/BACKUP/Prog.EXE");
    fs::remove(root_ / "v1/DOC/readme.txt");
    out = Output({"verify", P("p.exe"), P("v1")}, kExitWouldFail) +
          Output({"verify", "--json", P("p.exe"), P("v1")}, kExitWouldFail);
    EXPECT_TRUE(ContainsAll(out, {"prog.exe: FOREIGN", "doc\\readme.txt: MISSING", "1 foreign",
                                  "1 missing", "would NOT apply", "\"would_apply\":false}",
                                  "{\"name\":\"prog.exe\",\"verdict\":\"foreign\"}"}));
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
    EXPECT_EQ(ReadBack("p.exe").notice, std::string("\xAA\x60\xB7\x4E\0#%hidden", 13));
    // Only the file the pattern names is optional.
    const std::string text = Output({"inspect", P("p.exe")}, kExitOk);
    const size_t optional = text.find(" optional\n");
    EXPECT_EQ(optional, text.find('\n', text.find("changed  doc\\readme.txt")) - 9);
    EXPECT_EQ(optional, text.rfind(" optional\n"));
    EXPECT_TRUE(ContainsAll(
        text, {"target: registry, the value [Path] of HKEY_LOCAL_MACHINE\\Software\\App",
               "backup directory: 備份", "notice:\n  注意\n", "description:\n  說明一\n  說明二\n",
               "registry, written only when HKEY_LOCAL_MACHINE\\Software\\App [Path] exists",
               "HKEY_LOCAL_MACHINE\\Software\\App [語言] REG_SZ = 中文", "1 registry values"}));
    EXPECT_FALSE(Contains(text, "hidden"));
    ASSERT_EQ(Run({"inspect", "--json", P("p.exe")}), kExitOk);
    EXPECT_TRUE(ContainsAll(
        out_.str(), {"\"backup\":\"備份\"", "\"notice\":\"注意\\n#%hidden\"",
                     "{\"root\":\"HKEY_LOCAL_MACHINE\",\"key\":\"Software\\\\App\",\"name\":"
                     "\"語言\",\"type\":1,\"data\":\"中文\"}",
                     "\"registry_values\":1}}"}));
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
// was and no temporary file behind; what the guards refuse by default goes
// through when asked for, and a pattern that matches nothing is a warning.
TEST_F(CommandsTest, EachBuildEndsWithItsExitCodeAndMessage) {
    Write("p.exe", "previous patch");
    Write("x64.exe", Stub(0x8664));
    Write("bad.txt", "fine\n\xF0\x9F\x98\x80\n");
    Write("registry-only-check.reg", "REGEDIT4\n[HKLM\\S]\n\"v\"=\"x\"\n");
    Write("few/prog.exe", "one file of three");
    Write("long.reg", "REGEDIT4\n[HKLM\\" + std::string(300, 'k') + "]\n\"v\"=\"x\"\n");
    fs::create_directories(root_ / "empty");
    const std::string kLong(300, 'k');
    // Stubs that are no bare GUI applier (a patch neither, signed or not).
    ASSERT_EQ(Build("patch.exe"), kExitOk) << err_.str();
    std::string cut = Stub();
    cut.resize(0x250);  // the section ends at 0x300
    const std::pair<const char*, std::string> kStubs[] = {
        {"text.exe", "just some text, long enough to hold an MZ header offset and more of it."},
        {"empty.exe", ""},
        {"mz.exe", std::string("MZ") + std::string(100, '\0')},
        {"console.exe", Stub(0x14C, 3)},
        {"cut.exe", cut},
        {"signed-patch.exe", Signed(Read("patch.exe"))}};
    for (const auto& [name, content] : kStubs) Write(name, content);
    // Trees that build, but mean trouble on Windows: a change of case only, a
    // name that leaves 19 of the 259 bytes below PATCH9999.TMP\, a backslash.
    fs::copy(root_ / "v3", root_ / "v4", fs::copy_options::recursive);
    fs::rename(root_ / "v4/doc/readme.txt", root_ / "v4/doc/README.TXT");
    const std::string deepName = std::string(100, 'f') + ".txt";
    Write("v4/" + std::string(120, 'd') + "/" + deepName, "deep");
    fs::copy(root_ / "v3", root_ / "v5", fs::copy_options::recursive);
    Write("v5/back\\slash.txt", "x");
    const std::string kHint = "; pass --stub FILE";
    const std::string kNoMz = "(no MZ header)" + kHint, kPatch = "use the bare applier" + kHint;
    const std::tuple<std::vector<std::string>, int, const char*> kCases[] = {
        {{"--stub", P("text.exe")}, kExitFailed, kNoMz.c_str()},
        {{"--stub", P("empty.exe")}, kExitFailed, kNoMz.c_str()},
        {{"--stub", P("mz.exe")}, kExitFailed, "(no PE header); pass --stub FILE"},
        {{"--stub", P("x64.exe")}, kExitFailed, "not a 32-bit (i386) Windows program; pass --stub"},
        {{"--stub", P("console.exe")}, kExitFailed, "GUI program (wrong subsystem); pass --stub"},
        {{"--stub", P("cut.exe")}, kExitFailed, "the executable is cut short; pass --stub FILE"},
        {{"--stub", P("patch.exe")}, kExitFailed, kPatch.c_str()},
        {{"--stub", P("signed-patch.exe")}, kExitFailed, kPatch.c_str()},
        {{"--description", P("bad.txt")}, kExitFailed, "bad.txt:2: character U+1F600"},
        {{"--registry", P("registry-only-check.reg")}, kExitFailed, "registered-software check"},
        {{"--backup", "a\\b"}, kExitFailed, "backup directory"},
        {{"--stub", P("missing.exe")}, kExitFailed, "missing.exe: no such file"},
        {{"--notice", P("v1")}, kExitFailed, "a directory, where a file is expected"},
        {{"--new", P("v3/prog.exe")}, kExitFailed, "give files or directories on both sides"},
        {{"--new", P("nowhere")}, kExitFailed, "nowhere: no such file or directory"},
        {{"--new", P("empty")}, kExitFailed, "retires 3 of 3 old files"},
        {{"--new", P("few")}, kExitFailed, "pass --allow-removals"},
        // clang-format off
        {{"--location", "registry", "--location-key", "HKLM\\" + kLong}, kExitFailed,
         "--location-key is 300 bytes in code page 950; at most 255 fit"},
        {{"--location", "registry", "--location-key", "HKLM\\S", "--location-value", kLong}, kExitFailed,
         "--location-value is 300 bytes"},
        {{"--registry", P("long.reg"), "--registry-check", "HKLM\\S"}, kExitFailed, "longer than 255 bytes"},
        // clang-format on
        {{"--name", "x.exe"}, kExitUsage, "--name applies to single files only"},
        {{"--location-key", "HKLM\\S"}, kExitUsage, "has no effect without --location registry"},
        {{"--keep-obsolete", "--allow-removals"}, kExitUsage, "--allow-removals has no effect"},
        {{"--no-times", "--time-zone", "local"}, kExitUsage, "--time-zone has no effect"},
        {{"--time-zone", "+8h"}, kExitUsage, "--time-zone must be"},
        {{"--verbose"}, kExitUsage, "exclude each other"},
        {{"--new", P("v3"), "--new", P("v2")}, kExitUsage, "--new is given twice"},
        {{"-o", P("p.exe")}, kExitFailed, "exists; pass -f (--force)"},
        {{"-o", P("stub.exe")}, kExitFailed, "would replace the input"},
        {{"-o", P("v1/prog.exe")}, kExitFailed, "inside that tree"},
        {{"-o", P("v2")}, kExitFailed, "not a file that can be written"},
        {{"-o", P("no/such/dir/p.exe")}, kExitFailed, "does not exist"},
        {{"--new", P("few"), "--allow-removals"}, kExitOk, ""},
        {{"--stub", P("x64.exe"), "--allow-64bit-stub"}, kExitOk, ""},
        {{"--optional", "*.dll"}, kExitOk, "warning: --optional *.dll matches no changed file"},
        {{"--silent", "nothing*"}, kExitOk, "warning: --silent nothing* matches no changed file"},
        {{"--exclude", "*.pdb"}, kExitOk, "warning: --exclude *.pdb matches nothing"},
        {{"--old", P("v2"), "--new", P("v2")}, kExitOk, "warning: the patch changes nothing"},
        {{"--new", P("v4")},
         kExitOk,
         "\"doc/readme.txt\" becomes \"doc/README.TXT\", a change of case"},
        {{"--new", P("v4")}, kExitOk, "leaves 19 of the 260 bytes"},
        {{"--new", P("v4")}, kExitOk, deepName.c_str()},
#ifndef _WIN32
        {{"--new", P("v5")}, kExitOk, "v5/back\\slash.txt: the name holds a backslash"},
#endif
    };
    const std::string before = Read("v1/prog.exe") + Read("stub.exe");
    for (const auto& [options, code, message] : kCases) {
        std::vector<std::string> extra = options;
        if (!Contains(message, "pass -f")) extra.push_back("-f");
        EXPECT_EQ(Build("p.exe", extra), code) << message << "\n" << err_.str();
        EXPECT_TRUE(Contains(err_.str(), message));
        if (code == kExitOk) Write("p.exe", "previous patch");
        EXPECT_EQ(Read("p.exe"), "previous patch");
        for (const auto& e : fs::directory_iterator(root_)) EXPECT_NE(e.path().extension(), ".tmp");
    }
    EXPECT_EQ(Read("v1/prog.exe") + Read("stub.exe"), before);
    EXPECT_FALSE(fs::exists(root_ / "no"));
    EXPECT_EQ(Build("p.exe", {"-f"}), kExitOk);
    EXPECT_EQ(err_.str(), "") << "a plain tree gets no warning";
}

// Without --stub, the applier beside the program is taken, and checked.
TEST_F(CommandsTest, WithoutStubTheApplierBesideTheProgramIsTaken) {
    const auto withoutStub = [&](const std::string& output) {
        return Run({"build", "--old", P("v2"), "--new", P("v3"), "--quiet", "-f", "-o", P(output)});
    };
    Write("applier.exe", Stub());
    EXPECT_EQ(withoutStub("p1.exe"), kExitOk) << err_.str();
    EXPECT_EQ(withoutStub("applier.exe"), kExitFailed);
    EXPECT_TRUE(Contains(err_.str(), "would replace the input"));
    Write("applier.exe", "not an applier");
    EXPECT_EQ(withoutStub("p2.exe"), kExitFailed);
    EXPECT_TRUE(Contains(err_.str(), "applier.exe is no applier"));
}

// Two single files are one file, under the old file's name (the one on the
// user's machine) or the one given.
TEST_F(CommandsTest, TwoFilesAreOneChangedFileUnderTheOldName) {
    fs::copy_file(root_ / "v1/prog.exe", root_ / "tool-1.0.exe");
    fs::copy_file(root_ / "v2/prog.exe", root_ / "tool-1.1.exe");
    fs::copy_file(root_ / "v3/prog.exe", root_ / "tool-2.0.exe");
    // options, code, name (in the patch), message (on standard error)
    const std::tuple<std::vector<std::string>, int, const char*, const char*> kCases[] = {
        {{}, kExitOk, "tool-1.0.exe", "keeps the old file's name tool-1.0.exe (not tool-2.0.exe)"},
        {{"--name", "bin/tool.exe"}, kExitOk, "bin\\tool.exe", ""},
        {{"--old", P("tool-1.1.exe")}, kExitUsage, "", "say with --name which one"},
        {{"--old", P("tool-1.1.exe"), "--name", "tool.exe"}, kExitOk, "tool.exe", ""},
    };
    for (const auto& [options, code, name, message] : kCases) {
        std::vector<std::string> extra = {"--old", P("tool-1.0.exe"), "--new", P("tool-2.0.exe"),
                                          "-f"};
        extra.insert(extra.end(), options.begin(), options.end());
        ASSERT_EQ(Build("p.exe", extra), code) << err_.str();
        EXPECT_TRUE(Contains(err_.str(), message));
        if (code != kExitOk) continue;
        PatchContents patch = ReadBack("p.exe");
        ASSERT_EQ(patch.records.size(), 1u);
        EXPECT_EQ(patch.records[0].fileName, name);
    }
}

// The output is written once, whole, and only where it may be: a patch that
// appeared meanwhile is kept, a folder that cannot take it is found first.
TEST_F(CommandsTest, TheOutputIsNeverReplacedUnasked) {
    // Another build finished while this one ran: the check at the start saw
    // no file, the final move must still refuse to replace it.
    Write("p.exe", "the other build's patch");
    const Bytes mine = {'m', 'i', 'n', 'e'};
    std::string error;
    EXPECT_FALSE(WriteFileAtomically(P("p.exe"), mine, false, &error));
    EXPECT_TRUE(Contains(error, "created meanwhile by another program; pass -f"));
    EXPECT_EQ(Read("p.exe"), "the other build's patch");
    ASSERT_TRUE(WriteFileAtomically(P("p.exe"), mine, true, &error)) << error;
    EXPECT_EQ(Read("p.exe"), "mine");
    ASSERT_TRUE(WriteFileAtomically(P("fresh.exe"), mine, false, &error)) << error;
    EXPECT_EQ(Read("fresh.exe"), "mine");
    for (const auto& e : fs::directory_iterator(root_)) EXPECT_NE(e.path().extension(), ".tmp");

    const std::tuple<uint64_t, uint64_t, uint64_t, SpaceVerdict> kSpace[] = {
        {0, 70000, 90000, SpaceVerdict::kTooLittle},
        {69999, 70000, 90000, SpaceVerdict::kTooLittle},
        {70000, 70000, 90000, SpaceVerdict::kMayNotFit},
        {90000, 70000, 90000, SpaceVerdict::kEnough},
    };
    for (const auto& [available, least, most, verdict] : kSpace) {
        EXPECT_EQ(JudgeSpace(available, least, most), verdict) << available;
    }
#ifdef __linux__
    // Not even root creates files in /sys: found before any input is read.
    EXPECT_EQ(Build("x.exe", {"-o", "/sys/p.exe", "--new", P("nowhere")}), kExitFailed);
    EXPECT_TRUE(Contains(err_.str(), "/sys/p.exe: cannot create a file in /sys"));
#endif
}

#ifndef _WIN32
// A build ended by a signal while it writes leaves neither the patch nor its
// temporary file. The child writes a large patch; a thread of its own sends
// the signal once the temporary file exists.
TEST_F(CommandsTest, SignalsRemoveTheTemporaryFile) {
    constexpr size_t kLargePatch = 256u << 20;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        fs::create_directories(root_ / "out");
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            std::thread([&] {
                // Signals go to the writing thread, as in the one-threaded builder.
                sigset_t all;
                sigfillset(&all);
                pthread_sigmask(SIG_BLOCK, &all, nullptr);
                for (;;) {
                    for (const auto& e : fs::directory_iterator(root_ / "out")) {
                        if (e.path().extension() == ".tmp") kill(getpid(), signal);
                    }
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
                }
            }).detach();
            std::string error;
            WriteFileAtomically(P("out/p.exe"), Bytes(kLargePatch, 7), false, &error);
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal) << signal;
        EXPECT_TRUE(fs::is_empty(root_ / "out")) << signal;
        fs::remove_all(root_ / "out");
    }
    // A signal ignored before (nohup) stays ignored while the patch is written.
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGHUP, SIG_IGN);
        std::string error;
        bool written = WriteFileAtomically(P("nohup.exe"), Bytes(8, 1), false, &error);
        raise(SIGHUP);
        _exit(written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
#endif

// A signed applier goes into the patch without its certificate table: the
// patch is the one the unsigned applier gives, and the user is told. The
// checksum that signing recomputed is computed again (0xAEB8 for this stub,
// worked out apart from the builder); one left at zero stays zero.
TEST_F(CommandsTest, ASignedStubIsTakenWithoutItsSignature) {
    constexpr uint32_t kChecksumAt = kTestPeOffset + 24 + 64;
    std::string bare = Stub();  // no security directory, no checksum
    std::fill_n(bare.begin() + SecurityEntryAt(0x10B), 8, '\0');
    std::fill_n(bare.begin() + kChecksumAt, 4, '\0');
    Write("stub.exe", bare);
    ASSERT_EQ(Build("plain.exe"), kExitOk) << err_.str();
    EXPECT_EQ(err_.str(), "");
    Write("signed-bare.exe", Signed(bare));
    Write("signed-summed.exe", Signed(Stub()));
    const std::pair<const char*, std::string> kStubs[] = {
        {"signed-bare.exe", std::string(4, '\0')},
        {"signed-summed.exe", std::string("\xB8\xAE\0\0", 4)}};
    for (const auto& [stub, checksum] : kStubs) {
        ASSERT_EQ(Build("p.exe", {"--stub", P(stub), "-f"}), kExitOk) << err_.str();
        EXPECT_TRUE(
            Contains(err_.str(), "is signed; its certificate table (1205 bytes) is left out"));
        std::string patch = Read("p.exe");
        EXPECT_EQ(patch.substr(kChecksumAt, 4), checksum) << stub;
        patch.replace(kChecksumAt, 4, 4, '\0');
        EXPECT_TRUE(patch == Read("plain.exe")) << stub;
    }
}

// What a build says and how: the plan without writing, a JSON summary, JSON
// errors, the stub named, and a progress line only where it is wanted.
TEST_F(CommandsTest, BuildReportsInTheFormAskedFor) {
    std::string out = Output({"build", "--dry-run", "--old", P("v1"), "--old", P("v2"), "--new",
                              P("v3"), "--stub", P("stub.exe")},
                             kExitOk);
    EXPECT_TRUE(
        ContainsAll(out, {"dry run: nothing is written", "changed  prog.exe  2 old versions",
                          "new      plugins/new.dll  10 bytes", "obsolete old.txt",
                          "files changed 2, new 2, removed 1"}));
    ASSERT_EQ(Run({"build", "--dry-run", "--json", "--old", P("v2"), "--new", P("v3"), "--stub",
                   P("stub.exe"), "-o", P("p.exe")}),
              kExitOk)
        << err_.str();
    EXPECT_TRUE(Contains(out_.str(), "{\"dry_run\":true,\"output\":"));
    EXPECT_TRUE(
        Contains(out_.str(), "{\"kind\":\"new\",\"name\":\"plugins/new.dll\",\"size\":10}"));
    EXPECT_FALSE(fs::exists(root_ / "p.exe"));

    const std::vector<std::string> kJson = {"build", "--json", "--old",       P("v2"), "--new",
                                            P("v3"), "--stub", P("stub.exe"), "-o"};
    std::vector<std::string> args = kJson;
    args.push_back(P("p.exe"));
    out = Output(args, kExitOk);
    EXPECT_EQ(out.find("{\"dry_run\":false,"), 0u) << out;
    EXPECT_TRUE(ContainsAll(out, {"{\"kind\":\"obsolete\",\"name\":\"old.txt\"}", "\"changed\":2,",
                                  "\"warnings\":[]}\n"}));
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1);
    // Failures: one object on standard output; the text still on standard error.
    // clang-format off
    const std::tuple<std::vector<std::string>, std::string, const char*> kFailures[] = {
        {{P("p.exe")},
         "{\"error\":\"" + P("p.exe") + ": exists; pass -f (--force) to replace it\",\"exit_code\":1}\n",
         "error: "},
        {{P("q.exe"), "--zap"}, "{\"error\":\"unknown option \\\"--zap\\\"\",\"exit_code\":2}\n",
         "mkpatch: unknown option"},
        {{"-"},
         "{\"error\":\"-o - is not supported: the patch is an executable file; name it\",\"exit_code\":2}\n",
         "mkpatch: -o - is not supported"},
    };
    // clang-format on
    for (const auto& [extra, json, text] : kFailures) {
        args = kJson;
        args.insert(args.end(), extra.begin(), extra.end());
        EXPECT_NE(Run(args), kExitOk);
        EXPECT_EQ(out_.str(), json);
        EXPECT_TRUE(Contains(err_.str(), text));
    }
    EXPECT_EQ(Output({"inspect", "--json", P("nothing.exe")}, kExitFailed),
              "{\"error\":\"" + P("nothing.exe") + ": no such file\",\"exit_code\":1}\n");

    EXPECT_TRUE(Contains(Output({"build", "--verbose", "--old", P("v2"), "--new", P("v3"), "--stub",
                                 P("stub.exe"), "-o", P("v.exe")},
                                kExitOk),
                         "stub: " + P("stub.exe") + " (4107 bytes)"));
    // Standard error is no terminal here: a line only with --progress.
    for (bool asked : {false, true}) {
        std::vector<std::string> extra = {"-f"};
        if (asked) extra.push_back("--progress");
        ASSERT_EQ(Build("p.exe", extra), kExitOk);
        EXPECT_EQ(Contains(err_.str(), "[1/4] doc/readme.txt  0.0 of 0.2 MB"), asked) << err_.str();
        EXPECT_EQ(Contains(err_.str(), "compressing and checking the patch"), asked);
    }
}

// The line says which file, how far and how fast, and is redrawn at most
// every kProgressInterval seconds, except for the last step.
TEST(ProgressLine, ShowsFileBytesAndRateAtMostFiveTimesASecond) {
    const std::string name = "lib/core.dll";
    BuildProgressEvent e{2, 120, &name, 45100000, 612000000};
    EXPECT_EQ(FormatProgress(e, 0), "[3/120] lib/core.dll  45.1 of 612.0 MB");
    EXPECT_EQ(FormatProgress(e, 2), "[3/120] lib/core.dll  45.1 of 612.0 MB, 22.6 MB/s");
    double now = 10;
    std::ostringstream err;
    ProgressLine line(err, true, [&] { return now; });
    const double kTimes[] = {10, 10.1, 10.19, 10.21, 10.3};
    for (double t : kTimes) {
        now = t;
        line.Update(e);
    }
    const std::string text = err.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 2) << text;
    e.name = nullptr;
    line.Update(e);
    EXPECT_TRUE(Contains(err.str(), "\r\033[Kcompressing and checking the patch"));
    line.Clear();
    EXPECT_EQ(err.str().substr(err.str().size() - 4), "\r\033[K");
    std::ostringstream quiet;
    ProgressLine off(quiet, false);
    off.Update(e);
    EXPECT_EQ(quiet.str(), "");
}

#ifndef _WIN32
// Links are refused by name unless followed, and then only inside the tree;
// special files are reported; a link standing in the output's place is not
// followed.
TEST_F(CommandsTest, LinksAndSpecialFilesAreNeverTakenSilently) {
    Write("outside.txt", "secret");
    // name, target (a link in the new tree to target; no target: a named pipe), options,
    // message (empty: builds)
    const std::tuple<const char*, const char*, std::vector<std::string>, const char*> kCases[] = {
        {"out.txt", "../outside.txt", {}, "v3x/out.txt: a symbolic link; pass --follow-links"},
        {"out.txt", "../outside.txt", {"--follow-links"}, "outside the tree"},
        {"dangling.txt", "gone.txt", {"--follow-links"}, "v3x/dangling.txt: a link to nothing"},
        {"up", "..", {"--follow-links"}, "v3x/up: a link to"},
        {"plugins/self", ".", {"--follow-links"}, "v3x/plugins/self: a link leads back into its"},
        {"extra", "plugins", {"--follow-links"}, ""},
        {"out.txt", "../outside.txt", {"--exclude", "out.*"}, ""},
        {"pipe", nullptr, {}, "v3x/pipe: a named pipe, which a patch cannot carry"},
    };
    for (const auto& [name, target, options, message] : kCases) {
        fs::remove_all(root_ / "v3x");
        fs::copy(root_ / "v3", root_ / "v3x", fs::copy_options::recursive);
        const fs::path link = root_ / "v3x" / name;
        target ? fs::create_symlink(target, link) : void(mkfifo(link.c_str(), 0600));
        std::vector<std::string> extra = {"--new", P("v3x"), "-f"};
        extra.insert(extra.end(), options.begin(), options.end());
        EXPECT_EQ(Build("p.exe", extra), *message ? kExitFailed : kExitOk) << err_.str();
        EXPECT_TRUE(Contains(err_.str(), message));
    }
    EXPECT_FALSE(Contains(Output({"inspect", P("p.exe")}, kExitOk), "out.txt"));
    // A link where a temporary output name might be: never written through.
    for (int k = 0; k < 3; ++k) {
        fs::create_symlink(root_ / "outside.txt", root_ / (".q.exe." + std::to_string(getpid()) +
                                                           "-" + std::to_string(k) + ".tmp"));
    }
    EXPECT_EQ(Build("q.exe"), kExitOk) << err_.str();
    EXPECT_EQ(Read("outside.txt"), "secret");
}
#endif

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
         "*.pdb"},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", "-"},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--reg-encoding", "cp950"},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--json", "--quiet"},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--jobs", "0"},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--jobs", "2x"},
        {"build", "--old", P("v1"), "--new", P("v3"), "-o", P("x"), "--jobs", "257"},
        {"build", "--old", P("v1"), "--new", P("v3"), "--dry-run", "--jobs", "2"}};
    for (const auto& args : kWrong) {
        EXPECT_EQ(Run(args), kExitUsage) << args.size();
        const std::string err = err_.str();
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
        EXPECT_TRUE(Contains(err_.str(), "try 'mkpatch --help'"));
    }
    EXPECT_EQ(Run({"--version"}), kExitOk);
    EXPECT_EQ(Run({"build", "--help"}), kExitOk);
}

// Files are compared on several threads, and a lone file tries its layouts
// on several: the patch must not depend on how the work was shared out.
TEST_F(CommandsTest, ThePatchIsTheSameForEveryThreadCount) {
    std::mt19937 rng(11);
    auto random = [&](size_t n) {
        std::string text(n, '\0');
        for (auto& c : text) c = static_cast<char>(rng() % 11);
        return text;
    };
    // Changed files of many sizes, one moved into another name (another
    // file's old content is its best source), new and retired files.
    for (int f = 0; f < 12; ++f) {
        std::string old = random(3000 + 7000 * f);
        std::string changed = old;
        changed.insert(changed.size() / 3, random(50 + f));
        changed[changed.size() / 2] ^= 1;
        Write("a/dir" + std::to_string(f % 3) + "/f" + std::to_string(f) + ".bin", old);
        Write("b/dir" + std::to_string(f % 3) + "/f" + std::to_string(f) + ".bin", changed);
    }
    const std::string moved = random(40000);
    Write("a/gone.dat", moved);
    Write("b/arrived.dat", moved.substr(100) + random(300));
    Write("b/fresh.txt", random(5000));
    const std::vector<std::string> kPairs[] = {
        {"--old", P("a"), "--new", P("b"), "--allow-removals"},
        {"--old", P("v1/prog.exe"), "--new", P("v3/prog.exe")}};
    for (const auto& pair : kPairs) {
        std::string first;
        for (const char* jobs : {"1", "2", "4"}) {
            std::vector<std::string> extra = pair;
            extra.insert(extra.end(), {"-f", "--jobs", jobs});
            ASSERT_EQ(Build("j.exe", extra), kExitOk) << err_.str();
            if (first.empty()) {
                first = Read("j.exe");
            } else {
                EXPECT_TRUE(first == Read("j.exe")) << pair[1] << " with --jobs " << jobs;
            }
        }
    }
}

#ifdef MKPATCH_INSTALLED_STUB_DIR
// Installed (bin/mkpatch, share/selfpatch/applier.exe), the builder finds the
// applier below its own prefix, wherever that is; one beside it comes first.
TEST_F(CommandsTest, InstalledBuilderFindsTheApplierBelowItsPrefix) {
    const fs::path bin = "prefix/bin";
    const std::string installed =
        (bin / MKPATCH_INSTALLED_STUB_DIR / "applier.exe").lexically_normal().string();
    const std::pair<std::string, char> kAppliers[] = {{installed, 'I'},
                                                      {"prefix/bin/applier.exe", 'B'}};
    for (const auto& [where, mark] : kAppliers) {
        std::string applier = Stub();
        applier[0x280] = mark;  // in the section's data: the check does not mind
        Write(where, applier);
        std::ostringstream out, err;
        ASSERT_EQ(RunCommandLine({"build", "--old", P("v2"), "--new", P("v3"), "--quiet", "-f",
                                  "-o", P("p.exe")},
                                 P((bin / "mkpatch").string()), out, err),
                  kExitOk)
            << err.str();
        EXPECT_EQ(Read("p.exe").compare(0, applier.size(), applier), 0) << where;
    }
}
#endif

// inspect and verify refuse a body that inflates far beyond its size, or a
// file without a payload; inspect names a registry operation the applier
// passes over (verify's verdicts against the applier's: the engine tests).
TEST_F(CommandsTest, HandMadePatchesAreReadAsTheApplierReadsThem) {
    PatchFileOptions options;
    options.level = 1;
    Write("bomb.exe", BuildPatchFile(Bytes(4), Bytes(kPayloadFloorLimit + 1, 0), 0, 0, options));
    RegistryScriptWriter script(0x80000001u, "Software\\App", "Path");
    script.Op(7);
    script.OpenKey(0x80000001u, "Software\\App");
    script.SetValue("Version", 1, BytesOf("2"));
    RecordStreamWriter w;
    w.Location(LocationSpec{});
    w.BackupName("BACKUP");
    w.Registry(script.Finish());
    w.End();
    const std::string stub = Read("stub.exe");
    Write("reg.exe", BuildPatchFile(Bytes(stub.begin(), stub.end()),
                                    BuildPayload({}, {}, w.bytes()), 0, 0, PatchFileOptions{}));
    const std::tuple<std::vector<std::string>, int, const char*> kReads[] = {
        {{"inspect", P("bomb.exe")}, kExitFailed, "far beyond its compressed size; refused"},
        {{"verify", P("bomb.exe"), P("v1")},
         kExitFailed,
         "far beyond its compressed size; refused"},
        {{"inspect", P("stub.exe")}, kExitFailed, "no patch payload"},
        {{"inspect", P("reg.exe")}, kExitOk, "[Version] REG_SZ = 2"},
        {{"inspect", P("reg.exe")}, kExitOk, "operation 7, unknown, passed over"}};
    for (const auto& [args, code, message] : kReads) {
        EXPECT_EQ(Run(args), code) << message;
        EXPECT_TRUE(Contains(code == kExitOk ? out_.str() : err_.str(), message));
    }
}

}  // namespace
