#include "container/pass_runner.h"

#include <gtest/gtest.h>

#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "platform/file_primitives.h"
#include "tests/win/test_support.h"
#include "ui/window_services.h"

namespace {

// What the callback saw: "section:file" per record.
std::vector<std::string> gSeen;

int Recording(int section, uint8_t) {
    gSeen.push_back(std::to_string(section) + ":" + gCurrentFileName);
    EXPECT_EQ(gTargetDirectory, gSections.target[section]);
    EXPECT_EQ(gBackupName, "BAK" + std::to_string(section));
    return gCurrentFileName == "bad" ? kChecksumMismatch : kOk;
}

class PassRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gSeen.clear();
        gSections = SectionTables();
        gWindow = WindowState();
        w_ = RecordStreamWriter();
        starts_.clear();
    }
    void TearDown() override { ClosePayloadFile(); }
    void Section(bool more, const char* backupName = nullptr) {
        w_.Location(LocationSpec(), more);
        starts_.push_back(uint32_t(w_.bytes().size()));
        w_.BackupName(backupName ? backupName : "BAK" + std::to_string(starts_.size() - 1));
    }
    // The stream goes behind a two-byte notice; the tables are filled as
    // target location would fill them.
    void Load() {
        Bytes payload = BuildPayload(Bytes{'n', 'o'}, Bytes(), w_.bytes());
        ClosePayloadFile();
        gPayloadFile = CreateTempStreamFile();
        ASSERT_TRUE(WriteBlock(gPayloadFile, payload.data(), uint32_t(payload.size())));
        for (size_t i = 0; i < starts_.size(); ++i) {
            gSections.sectionStart[i] = 2 + starts_[i];
            gSections.target[i] = dir_ / ("t" + std::to_string(i));
        }
        gSections.lastSection = int(starts_.size()) - 1;
    }
    ScratchDirectory dir_;
    RecordStreamWriter w_;
    std::vector<uint32_t> starts_;
};

TEST_F(PassRunnerTest, SectionsAreWalkedInOrderAndStagingIsMadeOnceInTheProcess) {
    Section(true);
    w_.NewFile("new.txt", Bytes{'x', 'y', 'z'});
    w_.End();
    Section(false);
    w_.Obsolete("b");
    w_.End();
    Load();
    EXPECT_EQ(PassRunner(Recording, true), kOk);
    gSections.target[0] = dir_ / "second run";
    EXPECT_EQ(PassRunner(Recording, false), kOk);
    EXPECT_EQ(gSeen, std::vector<std::string>({"0:new.txt", "1:b", "0:new.txt", "1:b"}));
    EXPECT_EQ(gSections.staging[0], dir_ / "t0\\PATCH0.TMP");
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
        EXPECT_EQ(PassRunner(Recording, c.stopOnError), c.result);
        EXPECT_EQ(gSeen, c.seen);
    }
}

TEST_F(PassRunnerTest, StreamEndingWithoutEndRecordAndStopRequests) {
    Section(false);
    w_.Obsolete("a");
    Load();
    EXPECT_EQ(PassRunner(Recording, false), kInternalFileError);
    EXPECT_EQ(gSeen.size(), 1u);
    gWindow.stopRequested = true;
    EXPECT_EQ(PassRunner(Recording, true), kUserStopped);
    EXPECT_EQ(PassRunner(Recording, false), kInternalFileError);  // ignores the request
    EXPECT_EQ(gSeen.size(), 2u);
}

TEST_F(PassRunnerTest, BadBackupNamesAndStagingFailures) {
    // An empty or "." name would make the backup path the file itself.
    for (const char* name : {"", ".", "..\\up", "C:\\abs"}) {
        SetUp();
        Section(false, name);
        w_.End();
        Load();
        EXPECT_EQ(PassRunner(Recording, false), kInternalFileError) << name;
    }
    gSections.sectionStart[0] = FileSize(gPayloadFile);  // nothing left to read
    EXPECT_EQ(PassRunner(Recording, false), kPatchDamaged);
    gSections.lastSection = kMaxSections;
    EXPECT_EQ(PassRunner(Recording, false), kInternalFileError);

    SetUp();
    Section(false);
    w_.Obsolete("a");
    w_.End();
    Load();
    WriteTree(gSections.target[0], {{"PATCH0.TMP", TextBytes("in the way")}});
    EXPECT_EQ(PassRunner(Recording, true), kStagingDirFailed);
    // The name is kept: later passes walk the records without trying again.
    EXPECT_EQ(PassRunner(Recording, false), kOk);
    EXPECT_EQ(gSeen, std::vector<std::string>({"0:a"}));
}

}  // namespace
