#include "container/pass_runner.h"

#include <gtest/gtest.h>

#include <vector>

#include "builder/lib/payload_writer.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "platform/file_primitives.h"
#include "tests/win/test_support.h"
#include "ui/window_services.h"

namespace {

// A record as a callback saw it.
struct Seen {
    int section;
    uint8_t kind;
    std::string fileName;
    std::string backupName;
    std::string target;
};

std::vector<Seen> gSeen;
std::string gFailOn;  // a callback result of 12 for this file name

int RecordingCallback(int section, uint8_t kind) {
    gSeen.push_back({section, kind, gCurrentFileName, gBackupName, gTargetDirectory});
    return gCurrentFileName == gFailOn ? kChecksumMismatch : kOk;
}

// Builds a stream section by section and notes where each section starts.
class StreamBuilder {
  public:
    void Section(bool more, const std::string& backupName = "BAK") {
        w.Location(LocationSpec(), more);
        starts.push_back(static_cast<uint32_t>(w.bytes().size()));
        w.BackupName(backupName);
    }
    RecordStreamWriter w;
    std::vector<uint32_t> starts;
};

ChangedFile Changed(const std::string& name, const std::string& sourceName = "",
                    uint32_t skip = 0) {
    ChangedFile file;
    file.fileName = name;
    file.newSkipOffset = skip;
    file.newSkipLength = skip;
    DeltaVariant v;
    v.sourceName = sourceName;
    v.skipOffset = skip * 2;
    v.skipLength = skip * 3;
    v.blocks[kCommandBlock] = {1, 2, 3};
    v.blocks[kDiffBlock] = {4, 5};
    file.variants.push_back(v);
    return file;
}

class PassRunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gSeen.clear();
        gFailOn.clear();
        gSections = SectionTables();
        gWindow = WindowState();
    }
    void TearDown() override {
        ClosePayloadFile();
        gSections = SectionTables();
        gWindow = WindowState();
        gCurrentFileName.clear();
        gTargetDirectory.clear();
    }
    // Puts the stream behind a short notice into the payload file and fills
    // the section tables as target location would.
    void Load(const StreamBuilder& stream) {
        const Bytes notice = {'n', 'o'};
        Bytes payload = BuildPayload(notice, Bytes(), stream.w.bytes());
        ClosePayloadFile();
        gPayloadFile = CreateTempStreamFile();
        ASSERT_TRUE(
            WriteBlock(gPayloadFile, payload.data(), static_cast<uint32_t>(payload.size())));
        for (size_t i = 0; i < stream.starts.size(); ++i) {
            gSections.sectionStart[i] = static_cast<uint32_t>(notice.size()) + stream.starts[i];
            gSections.target[i] = dir_ / ("t" + std::to_string(i));
        }
        gSections.lastSection = static_cast<int>(stream.starts.size()) - 1;
    }

    ScratchDirectory dir_;
};

TEST_F(PassRunnerTest, EmptySectionRunsWithoutCallbacksAndMakesStagingOnce) {
    StreamBuilder s;
    s.Section(false);
    s.w.End();
    Load(s);
    for (bool stopOnError : {true, false, true}) {
        EXPECT_EQ(PassRunner(RecordingCallback, stopOnError), kOk);
    }
    EXPECT_TRUE(gSeen.empty());
    EXPECT_EQ(gSections.staging[0], gSections.target[0] + "\\PATCH0.TMP");
    EXPECT_EQ(EntryNames(gSections.target[0]), std::vector<std::string>({"PATCH0.TMP"}));

    // A later run on another directory keeps the staging directory it has.
    gSections.target[0] = dir_ / "elsewhere";
    EXPECT_EQ(PassRunner(RecordingCallback, true), kOk);
    EXPECT_EQ(gSections.staging[0], dir_ / "t0\\PATCH0.TMP");
    EXPECT_FALSE(IsDirectory(dir_ / "elsewhere"));
}

TEST_F(PassRunnerTest, EveryRecordReachesTheCallbackWithItsFields) {
    StreamBuilder s;
    s.Section(false, "BACKUP");
    s.w.Changed(Changed("a.dll"));
    s.w.Changed(Changed("sub\\b.dll", "old\\b.dll", 7));
    s.w.NewFile("new.txt", Bytes{'x', 'y', 'z'});
    s.w.Registry(RegistryScriptWriter(0x80000002u, "Software\\X", "Path").Finish());
    s.w.Obsolete("gone.txt");
    s.w.End();
    Load(s);

    struct Check {
        uint8_t kind;
        std::string fileName;
        std::string sourceName;
        uint32_t skip;
    };
    static std::vector<Check> checks;
    checks.clear();
    PassCallback inspect = [](int section, uint8_t kind) -> int {
        const CurrentRecord& r = gCurrentRecord;
        EXPECT_EQ(gCurrentFileName, r.fileName);
        Check c{kind, gCurrentFileName, "", 0};
        if (kind == kFileRecord) {
            c.sourceName = r.variants[0].sourceName;
            c.skip = r.newSkipOffset + r.newSkipLength + r.variants[0].skipOffset +
                     r.variants[0].skipLength;
            EXPECT_EQ(r.variants[0].header.blockLength[kCommandBlock], 3u);
            // The callback is handed the file positioned at the next record.
            EXPECT_EQ(PayloadPosition(), r.variants[0].dataStart + 5);
        }
        if (kind == kNewFileRecord) {
            uint8_t content[3];
            SeekPayload(r.dataStart);
            EXPECT_TRUE(ReadPayload(content, 3));
            EXPECT_EQ(content[2], 'z');  // ends its reading at the end of the record
        }
        checks.push_back(c);
        return RecordingCallback(section, kind);
    };
    EXPECT_EQ(PassRunner(inspect, true), kOk);
    ASSERT_EQ(checks.size(), 5u);
    EXPECT_EQ(checks[0].sourceName, "a.dll");  // an empty source name stands for the file
    EXPECT_EQ(checks[0].skip, 0u);
    EXPECT_EQ(checks[1].sourceName, "old\\b.dll");
    EXPECT_EQ(checks[1].skip, 7u + 7u + 14u + 21u);
    EXPECT_EQ(checks[2].fileName, "new.txt");
    EXPECT_EQ(checks[3].kind, kRegistryRecord);
    EXPECT_EQ(checks[3].fileName, "new.txt");  // a registry record leaves the name alone
    EXPECT_EQ(checks[4].fileName, "gone.txt");
    EXPECT_EQ(gSeen[0].backupName, "BACKUP");
    EXPECT_EQ(gSeen[0].target, gSections.target[0]);
}

// Two sections: the first holds `records`, the second one good file.
struct TwoSectionCase {
    const char* name;
    void (*records)(RecordStreamWriter&);
    bool stopOnError;
    int result;
    size_t callbacks;  // records seen in both sections together
};

TEST_F(PassRunnerTest, FailuresEndTheirSectionAndStopOnErrorEndsThePass) {
    const TwoSectionCase cases[] = {
        {"callback fails, stop",
         [](RecordStreamWriter& w) {
             w.Obsolete("bad");
             w.End();
         },
         true, kChecksumMismatch, 1},
        {"callback fails, go on",
         [](RecordStreamWriter& w) {
             w.Obsolete("bad");
             w.Obsolete("skipped");
             w.End();
         },
         false, kChecksumMismatch, 2},
        {"kind 4, stop",
         [](RecordStreamWriter& w) {
             w.U8(4);
             w.End();
         },
         true, kInternalFileError, 0},
        {"kind 6, go on",
         [](RecordStreamWriter& w) {
             w.U8(6);
             w.End();
         },
         false, kInternalFileError, 1},
        {"unsafe file name",
         [](RecordStreamWriter& w) {
             w.Obsolete("..\\x");
             w.End();
         },
         false, kInternalFileError, 1},
        {"absolute file name",
         [](RecordStreamWriter& w) {
             w.Obsolete("C:\\x");
             w.End();
         },
         true, kInternalFileError, 0},
        {"more than 20 versions",
         [](RecordStreamWriter& w) {
             ChangedFile f = Changed("a");
             f.variants.resize(21, f.variants[0]);
             w.Changed(f);
             w.End();
         },
         true, kInternalFileError, 0},
        {"record runs past the end",
         [](RecordStreamWriter& w) {
             w.U8(kRegistryRecord);
             w.U32(1u << 30);
         },
         false, kInternalFileError, 1},
    };
    for (const TwoSectionCase& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        StreamBuilder s;
        s.Section(true);
        RecordStreamWriter first;
        c.records(first);
        s.w.Raw(first.bytes());
        s.Section(false);
        s.w.Obsolete("second.txt");
        s.w.End();
        gFailOn = "bad";
        Load(s);
        EXPECT_EQ(PassRunner(RecordingCallback, c.stopOnError), c.result);
        EXPECT_EQ(gSeen.size(), c.callbacks);
    }
}

TEST_F(PassRunnerTest, StreamWithoutEndRecordIsRefused) {
    StreamBuilder s;
    s.Section(false);
    s.w.Obsolete("a.txt");
    Load(s);
    EXPECT_EQ(PassRunner(RecordingCallback, false), kInternalFileError);
    EXPECT_EQ(gSeen.size(), 1u);
}

TEST_F(PassRunnerTest, StopRequestEndsOnlyPassesThatHonourIt) {
    StreamBuilder s;
    s.Section(false);
    s.w.Obsolete("a.txt");
    s.w.End();
    Load(s);
    gWindow.stopRequested = true;
    EXPECT_EQ(PassRunner(RecordingCallback, true), kUserStopped);
    EXPECT_TRUE(gSeen.empty());
    EXPECT_EQ(PassRunner(RecordingCallback, false), kOk);
    EXPECT_EQ(gSeen.size(), 1u);
}

TEST_F(PassRunnerTest, BackupNamesThatAreUnreadableOrUnsafe) {
    struct Case {
        const char* backupName;
        int result;
    };
    const Case cases[] = {
        {"", kInternalFileError},        {".", kInternalFileError}, {"..\\up", kInternalFileError},
        {"C:\\abs", kInternalFileError}, {"sub\\BAK", kOk},
    };
    for (const Case& c : cases) {
        for (bool stopOnError : {true, false}) {
            SetUp();
            StreamBuilder s;
            s.Section(false, c.backupName);
            s.w.Obsolete("a.txt");
            s.w.End();
            Load(s);
            EXPECT_EQ(PassRunner(RecordingCallback, stopOnError), c.result) << c.backupName;
            EXPECT_EQ(gSeen.size(), c.result == kOk ? 1u : 0u);
        }
    }
    // A section start at the very end: the name cannot be read at all.
    SetUp();
    StreamBuilder s;
    s.Section(false);
    s.w.End();
    Load(s);
    gSections.sectionStart[0] = FileSize(gPayloadFile);
    EXPECT_EQ(PassRunner(RecordingCallback, false), kPatchDamaged);
}

TEST_F(PassRunnerTest, StagingDirectoryThatCannotBeMade) {
    StreamBuilder s;
    s.Section(false);
    s.w.Obsolete("a.txt");
    s.w.End();
    Load(s);
    MakeDir(gSections.target[0]);
    WriteWholeFile(gSections.target[0] + "\\PATCH0.TMP", "in the way");
    EXPECT_EQ(PassRunner(RecordingCallback, true), kStagingDirFailed);
    EXPECT_TRUE(gSeen.empty());
    // The name is kept, so a later pass does not try again and walks the records.
    EXPECT_EQ(gSections.staging[0], gSections.target[0] + "\\PATCH0.TMP");
    EXPECT_EQ(PassRunner(RecordingCallback, false), kOk);
    EXPECT_EQ(gSeen.size(), 1u);
}

TEST_F(PassRunnerTest, SectionCountOutsideTheTablesIsRefused) {
    StreamBuilder s;
    s.Section(false);
    s.w.End();
    Load(s);
    for (int last : {-1, kMaxSections}) {
        gSections.lastSection = last;
        EXPECT_EQ(PassRunner(RecordingCallback, false), kInternalFileError);
    }
    EXPECT_EQ(WalkSection(kMaxSections, RecordingCallback), kInternalFileError);
}

}  // namespace
