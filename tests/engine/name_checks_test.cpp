// Names Windows resolves otherwise than their bytes read: every such patch is
// refused with message 38 before anything in the target changes.
#include <functional>

#include "engine/name_checks.h"
#include "engine/target_location.h"
#include "platform/system_hooks.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

const Bytes kOld = TextBytes("the version on disk");
const Bytes kNew = TextBytes("the version the patch brings");
const char kLongDirectory[] = "Long Directory Name";
const char kLongFile[] = "Long Directory Name\\long file name.txt";
const FileTree kTree = {{"a.txt", kOld},
                        {"sub\\", {}},
                        {"sub\\b.txt", kOld},
                        {"Long Directory Name\\", {}},
                        {kLongFile, kOld}};

enum Slot { kChanged, kNewFile, kObsolete, kSource };
struct Record {
    Slot slot;
    std::string name;
};

// One section: the records in order; a source slot renames a.txt into the
// changed file "renamed.txt".
Bytes Stream(const std::string& backup, const std::vector<Record>& records) {
    OneSection s(backup);
    for (const Record& r : records) {
        if (r.slot == kChanged) s.w.Changed(ChangeOf(r.name, {kOld}, kNew));
        if (r.slot == kNewFile) s.w.NewFile(r.name, kNew);
        if (r.slot == kObsolete) s.w.Obsolete(r.name);
        if (r.slot == kSource) {
            ChangedFile renamed = ChangeOf("renamed.txt", {kOld}, kNew);
            renamed.variants[0].sourceName = r.name;
            s.w.Changed(renamed);
        }
    }
    return s.Finish();
}

class NameChecks : public EngineRun {
  protected:
    // The 8.3 alias Windows gives the existing relative path's last part.
    std::string ShortAlias(const std::string& relative) {
        char buffer[MAX_PATH];
        DWORD length = GetShortPathNameA(At(relative).c_str(), buffer, MAX_PATH);
        std::string alias(buffer, length < MAX_PATH ? length : 0);
        return alias.substr(alias.find_last_of('\\') + 1);
    }
    void ExpectRefused(const Bytes& stream, const std::string& what) {
        Reset(kTree);
        host.log.clear();
        EXPECT_EQ(kInternalFileError, Run(stream)) << what;
        EXPECT_EQ(1, LogCount(kInternalFileError)) << what;
        EXPECT_EQ(0, LogCount(MessageId::kDone)) << what;
        EXPECT_EQ(kTree, ReadTree(target)) << what;
    }
};

// Every kind of name Windows cannot create as that file, in every place a
// name stands, names that would leave the target among them. The reader
// meets them before any record is handled, a file staged before included.
TEST_F(NameChecks, NamesWindowsWouldNotCreateAsGivenAreRefusedEverywhere) {
    const std::string badNames[] = {"nul.txt", "sub\\Com1",     "CONOUT$",      "a.txt.", "a.txt ",
                                    "a?.txt",  "x\\a:s",        "sub\\\\b.txt", "..\\x",  "\\x",
                                    "C:x",     "PATCH0.TMP\\x", "bintmp2.tmp"};
    for (const std::string& bad : badNames) {
        for (Slot slot : {kChanged, kNewFile, kObsolete, kSource}) {
            ExpectRefused(Stream(kBackup, {{kNewFile, "first.txt"}, {slot, bad}}),
                          bad + " in slot " + std::to_string(slot));
        }
        ExpectRefused(Stream(bad, {{kNewFile, "first.txt"}, {kChanged, "a.txt"}}),
                      bad + " as backup");
    }
}

// Two names of one file by Windows' comparison, or a backup directory on, above
// or below a file, by name or by what an existing path resolves to.
TEST_F(NameChecks, NamesThatMeetAreRefusedBeforeAnythingMoves) {
    Reset(kTree);
    const std::string directoryAlias = ShortAlias(kLongDirectory);
    const std::string fileAlias = directoryAlias + "\\" + ShortAlias(kLongFile);
    ASSERT_NE(directoryAlias, kLongDirectory);
    // Greek small and capital beta, each followed by "eta.txt".
    const std::string beta = std::string("\xA3\x5D") + "eta.txt";
    const std::string capitalBeta = std::string("\xA3\x45") + "eta.txt";
    const std::string fullWidthA = "\xA2\xE9.txt", fullWidthCapitalA = "\xA2\xCF.txt";
    const std::tuple<std::string, std::string, std::vector<Record>> cases[] = {
        {"Greek case", kBackup, {{kNewFile, beta}, {kObsolete, capitalBeta}}},
        {"full-width case", kBackup, {{kNewFile, fullWidthA}, {kObsolete, fullWidthCapitalA}}},
        {"ASCII case", kBackup, {{kChanged, "a.txt"}, {kObsolete, "A.TXT"}}},
        {"same name twice", kBackup, {{kChanged, "a.txt"}, {kNewFile, "a.txt"}}},
        {"separators", kBackup, {{kChanged, "sub\\b.txt"}, {kObsolete, "SUB/b.txt"}}},
        {"8.3 alias of a file", kBackup, {{kChanged, kLongFile}, {kObsolete, fileAlias}}},
        {"8.3 alias of a directory",
         kBackup,
         {{kChanged, kLongFile}, {kNewFile, directoryAlias + "\\LONG FILE NAME.TXT"}}},
        {"backup is a file", "A.txt", {{kChanged, "a.txt"}}},
        {"backup above a file", "Sub", {{kChanged, "sub\\b.txt"}}},
        {"backup below a file", "a.txt\\old", {{kChanged, "a.txt"}}},
        {"backup is a new file", "n", {{kNewFile, "n"}}},
        {"backup is an alias of a tree directory", directoryAlias, {{kChanged, kLongFile}}},
        {"backup too long", std::string(255, 'b'), {{kChanged, "a.txt"}}},
        {"file too long", kBackup, {{kNewFile, std::string(200, 'd') + "\\" + "n.txt"}}},
    };
    for (const auto& [what, backup, records] : cases) ExpectRefused(Stream(backup, records), what);

    // A source may name another record's file: a rename. An older backup
    // directory and a name that exists elsewhere are fine too.
    WriteTree(target, {{"BAK\\a.txt", kOld}});
    ASSERT_EQ(kOk, Run(Stream(kBackup, {{kSource, "a.txt"}, {kObsolete, "a.txt"}})));
    EXPECT_EQ(kNew, ReadFileBytes(At("renamed.txt")));
    EXPECT_EQ(kOld, ReadFileBytes(At("BAK\\a.txt")));
}

// Two sections on one directory reach the same file under two names; a bad
// name in a section before the last is refused as in the last one.
TEST_F(NameChecks, EverySectionIsChecked) {
    for (const std::string& second : {std::string("X.txt"), std::string("nul.txt")}) {
        RecordStreamWriter w;
        w.Location(LocationSpec{}, true);
        w.BackupName("B1");
        w.NewFile(second == "X.txt" ? "x.txt" : second, kNew);
        w.End();
        w.Location(LocationSpec{});
        w.BackupName("B2");
        w.Obsolete(second == "X.txt" ? second : "a.txt");
        w.End();
        ExpectRefused(w.bytes(), second);
    }
}

// Parts of the target that stand in for links: Wine shows a linked directory
// as a reparse point, but a Windows program cannot make one under it.
std::vector<std::string> gLinks;
PathProbe ProbeWithLinks(const std::string& path) {
    PathProbe probe = ProbePath(path);
    for (const std::string& link : gLinks) {
        const std::string end = "\\" + link;
        if (path.size() >= end.size() &&
            path.compare(path.size() - end.size(), end.size(), end) == 0) {
            probe.isReparsePoint = true;
        }
    }
    return probe;
}

TEST_F(NameChecks, PathsThroughAReparsePointAreRefused) {
    const std::tuple<std::string, std::string, Record, int> cases[] = {
        {"BAK", kBackup, {kChanged, "a.txt"}, kInternalFileError},
        {"sub", kBackup, {kChanged, "sub\\b.txt"}, kInternalFileError},
        {"BAK\\sub", kBackup, {kNewFile, "sub\\n.txt"}, kInternalFileError},
        {"sub\\b.txt", kBackup, {kObsolete, "sub\\b.txt"}, kInternalFileError},
        {"a.txt", kBackup, {kChanged, "sub\\b.txt"}, kOk},  // no path passes through it
    };
    for (const auto& [link, backup, record, result] : cases) {
        Reset(kTree);
        WriteTree(target, {{"BAK\\sub\\", {}}});
        LoadPatchStream(&patch, Stream(backup, {record}));
        host.requestedTargetPath = target;
        ApplyRun run(patch, host);
        ASSERT_EQ(kOk, LocateTarget(run, patch.recordsStart));
        gLinks = {link};
        EXPECT_EQ(result, CheckPatchNames(run, ProbeWithLinks)) << link;
    }
    gLinks.clear();
}

std::string UnixPath(const std::string& path) {
    using UnixNameFn = char* (*)(const wchar_t*);
    const auto unixName = reinterpret_cast<UnixNameFn>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    wchar_t wide[MAX_PATH] = {};
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
    char* name = unixName ? unixName(wide) : nullptr;
    const std::string text = name ? name : "";
    HeapFree(GetProcessHeap(), 0, name);
    return text;
}

// Runs a Unix program under Wine and waits until path exists (or no longer
// does): the end of a Unix program is not reported through its handle.
bool RunUnixUntil(const std::string& program, const std::string& arguments, const std::string& path,
                  bool exists) {
    std::string line = "Z:\\bin\\" + program + " " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return false;
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int tries = 0; tries < 100; ++tries) {
        if ((GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES) == exists) return true;
        Sleep(50);
    }
    return false;
}

// Wine shows a Unix symbolic link as a reparse point; a Windows program can
// neither make nor remove one there, but it can start ln and rm.
bool MakeUnixLink(const std::string& link, const std::string& to) {
    return RunUnixUntil("ln", "-s \"" + UnixPath(to) + "\" \"" + UnixPath(link) + "\"", link, true);
}
bool RemoveUnixLink(const std::string& link) {
    return RunUnixUntil("rm", "\"" + UnixPath(link) + "\"", link, false);
}

struct LinkSwap {
    std::string directory, away;  // moved away, then linked to where it went
    std::string planted;          // a file of someone's put there, if any
    bool done = false, made = false;
};
LinkSwap gSwap;

void SwapDirectoryForLink() {
    if (gSwap.done || GetFileAttributesA(gSwap.directory.c_str()) == INVALID_FILE_ATTRIBUTES)
        return;
    gSwap.done = true;
    gSwap.made = MoveFileA(gSwap.directory.c_str(), gSwap.away.c_str()) &&
                 (gSwap.planted.empty() ||
                  WriteFileBytes(JoinPath(gSwap.away, gSwap.planted), TextBytes("someone's"))) &&
                 MakeUnixLink(gSwap.directory, gSwap.away);
}

void SwapAfterFirstBackup(RunStep step) {
    if (step == RunStep::kMovedIntoBackup) SwapDirectoryForLink();
}

// A directory of the target replaced by a link while the run goes on (after
// the names were checked): a directory a later record's moves pass through,
// or the staging directory before anything is staged. The record is refused
// with message 38 and the run undone; nothing outside the target is moved,
// written or deleted.
TEST_F(NameChecks, LinkMadeDuringTheRunIsNotFollowed) {
    // directory, planted, duringCheck (swapped at the first record of the check pass, else of
    // the apply pass), left (expected outside)
    const std::tuple<const char*, const char*, bool, FileTree> cases[] = {
        {"sub", "", false, {{"sub\\b.txt", kOld}}},
        {"PATCH0.TMP", "a.txt", true, {{"PATCH0.TMP\\a.txt", TextBytes("someone's")}}},
    };
    for (const auto& [directory, planted, duringCheck, left] : cases) {
        SCOPED_TRACE(directory);
        const std::string outside = MakeScratchDirectory("outside");
        Reset(kTree);
        gSwap = LinkSwap{At(directory), JoinPath(outside, directory), planted};
        if (duringCheck) {
            host.onPump = SwapDirectoryForLink;
        } else {
            gRunStepHook = SwapAfterFirstBackup;
        }
        const int result = Run(Stream(kBackup, {{kChanged, "a.txt"}, {kChanged, "sub\\b.txt"}}));
        gRunStepHook = nullptr;
        host.onPump = nullptr;
        ASSERT_TRUE(gSwap.made);
        EXPECT_EQ(kInternalFileError, result);
        FileTree expected = left;
        expected[std::string(directory) + "\\"] = {};
        EXPECT_EQ(expected, ReadTree(outside));
        // The old tree, the link, no backup and no staged file left: the
        // cleanup removes what lies in the staging directory, not beyond it.
        FileTree inTarget = kTree;
        inTarget.insert(expected.begin(), expected.end());
        EXPECT_EQ(inTarget, ReadTree(target));
        EXPECT_TRUE(RemoveUnixLink(At(directory)));
        RemoveTree(outside);
    }
}

}  // namespace
