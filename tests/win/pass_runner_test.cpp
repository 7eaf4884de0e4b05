#include "container/pass_runner.h"

#include <gtest/gtest.h>

#include "platform/file_primitives.h"
#include "tests/win/test_support.h"

namespace {

// Each section: its backup name, then its records: an obsolete-file record
// per name, "#K" a bare kind byte K, and "..." last leaves out the end record.
using Sections = std::vector<std::vector<std::string>>;

// A patch of those sections, its tables filled as target location fills
// them; the visitor records "section:file" and fails on "bad".
struct Walk : RecordVisitor {
    explicit Walk(const Sections& sections) : sections_(sections) {
        RecordStreamWriter w;
        for (size_t s = 0; s < sections.size(); ++s) {
            w.Location(LocationSpec(), s + 1 < sections.size());
            // The stream goes behind a two-byte notice.
            walk.sections.sectionStart[s] = 2 + uint32_t(w.bytes().size());
            walk.sections.target[s] = dir / ("t" + std::to_string(s));
            w.BackupName(sections[s][0]);
            for (size_t i = 1; i < sections[s].size(); ++i) {
                const std::string& r = sections[s][i];
                r[0] == '#' ? w.U8(uint8_t(std::stoi(r.substr(1)))) : w.Obsolete(r);
            }
            if (sections[s].back() != "...") w.End();
        }
        walk.sections.lastSection = int(sections.size()) - 1;
        LoadPatchStream(&patch, BuildPayload(Bytes{'n', 'o'}, Bytes(), w.bytes()));
    }
    ResultCode Visit(int section, const CurrentRecord&) override {
        seen.push_back(std::to_string(section) + ":" + walk.record.fileName);
        EXPECT_EQ(walk.targetDirectory, walk.sections.target[section]);
        EXPECT_EQ(walk.backupName, sections_[section][0]);
        walk.payload.Seek(0);  // a pass may read anywhere; the walk goes on behind the record
        return walk.record.fileName == "bad" ? kChecksumMismatch : kOk;
    }
    ResultCode Pass(bool stopOnError) { return PassRunner(walk, *this, stopOnError); }

    Sections sections_;
    ScratchDirectory dir;
    OpenedPatch patch;
    FakeHost host;
    RecordWalk walk{patch.payload, host};
    std::vector<std::string> seen;
};

// A failure ends its section; with stopOnError it ends the pass, otherwise
// the first failure is the pass's result. Only a stopping pass heeds a stop
// request. Damage and unsafe names are the applier's internal error.
TEST(PassRunner, SectionsInOrderFailuresAndStops) {
    const std::vector<std::string> next = {"B1", "next"};
    // clang-format off
    const std::tuple<const char*, Sections, bool, bool, ResultCode, std::vector<std::string>> kCases[] = {
        {"in order", {{"B0", "new.txt"}, {"B1", "b"}}, true, false, kOk, {"0:new.txt", "1:b"}},
        {"bad stops", {{"B0", "bad", "x"}, next}, true, false, kChecksumMismatch, {"0:bad"}},
        {"bad goes on", {{"B0", "bad", "x"}, next}, false, false, kChecksumMismatch, {"0:bad", "1:next"}},
        {"kind 4 stops", {{"B0", "#4", "x"}, next}, true, false, kInternalFileError, {}},
        {"kind 6 goes on", {{"B0", "#6", "x"}, next}, false, false, kInternalFileError, {"1:next"}},
        {"unsafe name", {{"B0", "..\\x"}, next}, false, false, kInternalFileError, {"1:next"}},
        {"no end record", {{"B0", "a", "..."}}, false, false, kInternalFileError, {"0:a"}},
        {"stop heeded", {{"B0", "a"}}, true, true, kUserStopped, {}},
        {"stop ignored", {{"B0", "a"}}, false, true, kOk, {"0:a"}},
        // An empty or "." name would make the backup path the target itself.
        {"empty backup name", {{"", "a"}}, false, false, kInternalFileError, {}},
        {"dot backup name", {{".", "a"}}, false, false, kInternalFileError, {}},
        {"backup name going up", {{"..\\up", "a"}}, false, false, kInternalFileError, {}},
        {"absolute backup name", {{"C:\\abs", "a"}}, false, false, kInternalFileError, {}},
    };
    // clang-format on
    for (const auto& [name, sections, stopOnError, stop, result, seen] : kCases) {
        Walk w(sections);
        w.host.stopRequested = stop;
        EXPECT_EQ(w.Pass(stopOnError), result) << name;
        EXPECT_EQ(w.seen, seen) << name;
    }
}

// The staging directory is made once per run, however often it is walked; one
// that cannot be made fails its pass, and later passes do not try again.
TEST(PassRunner, StagingIsMadeOncePerRunAndTablesAreChecked) {
    Walk w(Sections{{"B0", "a"}, {"B1", "b"}});
    EXPECT_EQ(w.Pass(true), kOk);
    w.walk.sections.target[0] = w.dir / "second run";
    EXPECT_EQ(w.Pass(false), kOk);
    EXPECT_EQ(w.seen, std::vector<std::string>({"0:a", "1:b", "0:a", "1:b"}));
    EXPECT_EQ(w.walk.sections.staging[0], w.dir / "t0\\PATCH0.TMP");
    EXPECT_EQ(
        ReadTree(w.dir.path),
        FileTree({{"t0\\", {}}, {"t0\\PATCH0.TMP\\", {}}, {"t1\\", {}}, {"t1\\PATCH0.TMP\\", {}}}));
    w.walk.sections.lastSection = kMaxSections;
    EXPECT_EQ(w.Pass(false), kInternalFileError);
    w.walk.sections.lastSection = 0;
    w.walk.sections.sectionStart[0] = w.patch.payload.Size();  // nothing left to read
    EXPECT_EQ(w.Pass(false), kPatchDamaged);

    Walk blocked(Sections{{"B0", "a"}});
    // A file where the target directory should be: no staging directory below it.
    WriteTree(blocked.dir.path, {{"t0", TextBytes("in the way")}});
    EXPECT_EQ(blocked.Pass(true), kStagingDirFailed);
    EXPECT_EQ(blocked.Pass(false), kOk);
    EXPECT_EQ(blocked.seen, std::vector<std::string>({"0:a"}));
}

}  // namespace
