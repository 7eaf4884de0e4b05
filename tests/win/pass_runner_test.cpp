#include "container/pass_runner.h"

#include <gtest/gtest.h>

#include "builder/lib/payload_writer.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "platform/file_primitives.h"
#include "tests/win/test_support.h"
#include "ui/window_services.h"

namespace {

// What each callback saw: "section:file" per record.
std::vector<std::string> gSeen;

int Recording(int section, uint8_t) {
    gSeen.push_back(std::to_string(section) + ":" + gCurrentFileName);
    return gCurrentFileName == "bad" ? kChecksumMismatch : kOk;
}

ChangedFile Changed(const std::string& name, const std::string& sourceName, uint32_t skip) {
    DeltaVariant v;
    v.sourceName = sourceName;
    v.skipOffset = skip * 2;
    v.skipLength = skip * 3;
    v.blocks[kCommandBlock] = {1, 2, 3};
    v.blocks[kDiffBlock] = {4, 5};
    ChangedFile file;
    file.fileName = name;
    file.newSkipOffset = file.newSkipLength = skip;
    file.variants.push_back(v);
    return file;
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
    void Section(bool more, const std::string& backupName = "BAK") {
        w_.Location(LocationSpec(), more);
        starts_.push_back(uint32_t(w_.bytes().size()));
        w_.BackupName(backupName);
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

TEST_F(PassRunnerTest, EmptySectionMakesItsStagingDirectoryOnceInTheProcess) {
    Section(false);
    w_.End();
    Load();
    EXPECT_EQ(PassRunner(Recording, true), kOk);
    EXPECT_EQ(PassRunner(Recording, false), kOk);
    gSections.target[0] = dir_ / "second run";
    EXPECT_EQ(PassRunner(Recording, true), kOk);
    EXPECT_TRUE(gSeen.empty());
    EXPECT_EQ(gSections.staging[0], dir_ / "t0\\PATCH0.TMP");
    EXPECT_EQ(EntryNames(dir_.path), std::vector<std::string>({"t0"}));
    EXPECT_EQ(EntryNames(dir_ / "t0"), std::vector<std::string>({"PATCH0.TMP"}));
}

TEST_F(PassRunnerTest, RecordsReachTheCallbackWithTheirFields) {
    Section(false, "BACKUP");
    w_.Changed(Changed("a.dll", "", 0));
    w_.Changed(Changed("sub\\b.dll", "old\\b.dll", 7));
    w_.NewFile("new.txt", Bytes{'x', 'y', 'z'});
    w_.Registry(RegistryScriptWriter(0x80000002u, "Software\\X", "Path").Finish());
    w_.End();
    Load();
    static std::vector<std::string> fields;
    fields.clear();
    auto inspect = [](int section, uint8_t kind) -> int {
        const CurrentRecord& r = gCurrentRecord;
        const SourceVariant& v = r.variants[0];
        std::string f = std::to_string(kind) + ":" + gCurrentFileName + ":" + gBackupName;
        if (kind == kFileRecord) {
            f += ":" + v.sourceName + ":" + std::to_string(r.newSkipOffset) + "," +
                 std::to_string(r.newSkipLength) + "," + std::to_string(v.skipOffset) + "," +
                 std::to_string(v.skipLength);
            EXPECT_EQ(PayloadPosition(), v.dataStart + 5);  // at the next record
        }
        if (kind == kNewFileRecord) {
            EXPECT_EQ(PayloadPosition(), r.dataStart + 3);
        }
        fields.push_back(f);
        return Recording(section, kind);
    };
    EXPECT_EQ(PassRunner(inspect, true), kOk);
    EXPECT_EQ(fields, std::vector<std::string>({"1:a.dll:BACKUP:a.dll:0,0,0,0",
                                                "1:sub\\b.dll:BACKUP:old\\b.dll:7,7,14,21",
                                                "2:new.txt:BACKUP", "5:new.txt:BACKUP"}));
    EXPECT_EQ(gTargetDirectory, gSections.target[0]);
}

TEST_F(PassRunnerTest, FailuresEndTheirSectionAndStopOnErrorEndsThePass) {
    struct Case {
        void (*records)(RecordStreamWriter&);
        bool stopOnError;
        int result;
        std::vector<std::string> seen;
    } cases[] = {
        {[](RecordStreamWriter& w) {
             w.Obsolete("bad");
             w.Obsolete("x");
         },
         true,
         kChecksumMismatch,
         {"0:bad"}},
        {[](RecordStreamWriter& w) {
             w.Obsolete("bad");
             w.Obsolete("x");
         },
         false,
         kChecksumMismatch,
         {"0:bad", "1:next"}},
        {[](RecordStreamWriter& w) { w.U8(4); }, true, kInternalFileError, {}},
        {[](RecordStreamWriter& w) { w.U8(6); }, false, kInternalFileError, {"1:next"}},
        {[](RecordStreamWriter& w) { w.Obsolete("..\\x"); }, false, kInternalFileError, {"1:next"}},
        {[](RecordStreamWriter& w) { w.Obsolete("C:\\x"); }, true, kInternalFileError, {}},
        {[](RecordStreamWriter& w) {
             ChangedFile f = Changed("a", "", 0);
             f.variants.resize(21, f.variants[0]);
             w.Changed(f);
         },
         true,
         kInternalFileError,
         {}},
    };
    for (const Case& c : cases) {
        SetUp();
        Section(true);
        c.records(w_);
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
    MakeDir(gSections.target[0]);
    WriteWholeFile(gSections.target[0] + "\\PATCH0.TMP", "in the way");
    EXPECT_EQ(PassRunner(Recording, true), kStagingDirFailed);
    // The name is kept: later passes walk the records without trying again.
    EXPECT_EQ(PassRunner(Recording, false), kOk);
    EXPECT_EQ(gSeen, std::vector<std::string>({"0:a"}));
}

}  // namespace
