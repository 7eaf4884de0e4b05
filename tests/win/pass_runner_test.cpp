#include "container/pass_runner.h"

#include <gtest/gtest.h>

#include "platform/file_primitives.h"
#include "tests/win/test_support.h"

namespace {

// Records what it saw, "section:file" per record, and fails on "bad".
struct Recording : RecordVisitor {
    explicit Recording(RecordWalk& w) : walk(w) {}
    ResultCode Visit(int section, uint8_t) override {
        seen.push_back(std::to_string(section) + ":" + walk.record.fileName);
        EXPECT_EQ(walk.targetDirectory, walk.sections.target[section]);
        EXPECT_EQ(walk.backupName, "BAK" + std::to_string(section));
        return walk.record.fileName == "bad" ? kChecksumMismatch : kOk;
    }
    RecordWalk& walk;
    std::vector<std::string> seen;
};

class PassRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host_ = FakeHost();
        walk_.sections = SectionTables();
        recording_.seen.clear();
        w_ = RecordStreamWriter();
        starts_.clear();
    }
    int Pass(bool stopOnError) { return PassRunner(walk_, recording_, stopOnError); }
    const std::vector<std::string>& Seen() const { return recording_.seen; }
    void Section(bool more, const char* backupName = nullptr) {
        w_.Location(LocationSpec(), more);
        starts_.push_back(uint32_t(w_.bytes().size()));
        w_.BackupName(backupName ? backupName : "BAK" + std::to_string(starts_.size() - 1));
    }
    // The stream goes behind a two-byte notice; the tables are filled as
    // target location would fill them.
    void Load() {
        LoadPatchStream(&patch_, BuildPayload(Bytes{'n', 'o'}, Bytes(), w_.bytes()));
        for (size_t i = 0; i < starts_.size(); ++i) {
            walk_.sections.sectionStart[i] = 2 + starts_[i];
            walk_.sections.target[i] = dir_ / ("t" + std::to_string(i));
        }
        walk_.sections.lastSection = int(starts_.size()) - 1;
    }
    ScratchDirectory dir_;
    OpenedPatch patch_;
    FakeHost host_;
    RecordWalk walk_{patch_.payload, host_};
    Recording recording_{walk_};
    RecordStreamWriter w_;
    std::vector<uint32_t> starts_;
};

TEST_F(PassRunnerTest, SectionsAreWalkedInOrderAndStagingIsMadeOncePerRun) {
    Section(true);
    w_.NewFile("new.txt", Bytes{'x', 'y', 'z'});
    w_.End();
    Section(false);
    w_.Obsolete("b");
    w_.End();
    Load();
    EXPECT_EQ(Pass(true), kOk);
    walk_.sections.target[0] = dir_ / "second run";
    EXPECT_EQ(Pass(false), kOk);
    EXPECT_EQ(Seen(), std::vector<std::string>({"0:new.txt", "1:b", "0:new.txt", "1:b"}));
    EXPECT_EQ(walk_.sections.staging[0], dir_ / "t0\\PATCH0.TMP");
    EXPECT_EQ(
        ReadTree(dir_.path),
        FileTree({{"t0\\", {}}, {"t0\\PATCH0.TMP\\", {}}, {"t1\\", {}}, {"t1\\PATCH0.TMP\\", {}}}));
}

// Kind 0 stands for an obsolete-file record with the name; others are a bare kind byte.
TEST_F(PassRunnerTest, FailuresEndTheirSectionAndStopOnErrorEndsThePass) {
    struct Case {
        uint8_t kind;
        const char* name;
        bool stopOnError;
        int result;
        std::vector<std::string> seen;
    } cases[] = {
        {0, "bad", true, kChecksumMismatch, {"0:bad"}},
        {0, "bad", false, kChecksumMismatch, {"0:bad", "1:next"}},
        {4, "", true, kInternalFileError, {}},
        {6, "", false, kInternalFileError, {"1:next"}},
        {0, "..\\x", false, kInternalFileError, {"1:next"}},
    };
    for (const Case& c : cases) {
        SetUp();
        Section(true);
        c.kind ? w_.U8(c.kind) : w_.Obsolete(c.name);
        w_.Obsolete("x");
        w_.End();
        Section(false);
        w_.Obsolete("next");
        w_.End();
        Load();
        EXPECT_EQ(Pass(c.stopOnError), c.result);
        EXPECT_EQ(Seen(), c.seen);
    }
}

TEST_F(PassRunnerTest, StreamEndingWithoutEndRecordAndStopRequests) {
    Section(false);
    w_.Obsolete("a");
    Load();
    EXPECT_EQ(Pass(false), kInternalFileError);
    EXPECT_EQ(Seen().size(), 1u);
    host_.stopRequested = true;
    EXPECT_EQ(Pass(true), kUserStopped);
    EXPECT_EQ(Pass(false), kInternalFileError);  // ignores the request
    EXPECT_EQ(Seen().size(), 2u);
}

TEST_F(PassRunnerTest, BadBackupNamesAndStagingFailures) {
    // An empty or "." name would make the backup path the file itself.
    for (const char* name : {"", ".", "..\\up", "C:\\abs"}) {
        SetUp();
        Section(false, name);
        w_.End();
        Load();
        EXPECT_EQ(Pass(false), kInternalFileError) << name;
    }
    walk_.sections.sectionStart[0] = patch_.payload.Size();  // nothing left to read
    EXPECT_EQ(Pass(false), kPatchDamaged);
    walk_.sections.lastSection = kMaxSections;
    EXPECT_EQ(Pass(false), kInternalFileError);

    SetUp();
    Section(false);
    w_.Obsolete("a");
    w_.End();
    Load();
    // A file where the target directory should be: no staging directory below it.
    WriteTree(dir_.path, {{"t0", TextBytes("in the way")}});
    EXPECT_EQ(Pass(true), kStagingDirFailed);
    // The name is kept: later passes walk the records without trying again.
    EXPECT_EQ(Pass(false), kOk);
    EXPECT_EQ(Seen(), std::vector<std::string>({"0:a"}));
}

}  // namespace
