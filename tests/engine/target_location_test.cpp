// Locating the target: the user's path, a registry value, the Windows and
// system directories, and several sections.
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "engine/target_location.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

const char kKey[] = "Software\\EngineTests\\Location";

LocationSpec Kind(uint8_t kind) {
    LocationSpec location;
    location.kind = kind;
    return location;
}

class Locate : public EngineRun {
  protected:
    void TearDown() override {
        DeleteRegistryKey(kKey);
        EngineRun::TearDown();
    }
    int LocateWith(const LocationSpec& location, const std::string& requested = ".") {
        RecordStreamWriter w;
        w.Location(location);
        w.BackupName(kBackup);
        w.End();
        LoadPatchStream(w.bytes());
        gWindow.requestedTargetPath = requested;
        return LocateTarget();
    }
};

TEST_F(Locate, UserPathIsCutToDirectoryOnlyForExistingFiles) {
    WriteTree(target, {{"prog.exe", TextBytes("MZ")}, {"dir\\", {}}});
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    SetCurrentDirectoryA(target.c_str());
    struct Case {
        std::string requested;
        std::string located;
    };
    const Case cases[] = {
        {".", "."},
        {"", "."},  // an emptied path box is the current directory
        {target + "\\prog.exe", target + "\\"},
        {"prog.exe", "."},
        {target + "\\dir", target + "\\dir"},
        {target + "\\dir\\", target + "\\dir\\"},
        {target + "\\missing.exe", target + "\\missing.exe"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.requested);
        ASSERT_EQ(kOk, LocateWith(LocationSpec{}, c.requested));
        EXPECT_EQ(c.located, gTargetDirectory);
        EXPECT_EQ(c.located, gSections.target[0]);
        EXPECT_EQ(0, gSections.lastSection);
    }
    SetCurrentDirectoryA(current);
}

TEST_F(Locate, CutKeepsEverythingUpToTheLastBackslashByte) {
    // The second byte of this double-byte character is 0x5C.
    const std::string name = target + "\\\xA5\x5C.exe";
    WriteTree(target, {{"\xA5\x5C.exe", TextBytes("MZ")}});
    gTargetDirectory = name;
    CutToDirectory();
    EXPECT_EQ(target + "\\\xA5\\", gTargetDirectory);
}

TEST_F(Locate, RegistryValueNamesTheTargetWhateverTheUserTyped) {
    WriteTree(target, {{"app.exe", TextBytes("MZ")}});
    const std::string quoted = "\"" + target + "\\app.exe\"";
    struct Case {
        const char* label;
        bool setValue;
        DWORD type;
        Bytes data;
        int result;
        std::string located;
    };
    Bytes full = TextBytes(target + "\\app.exe");
    full.push_back(0);
    Bytes quotedBytes = TextBytes(quoted);
    quotedBytes.push_back(0);
    const Case cases[] = {
        {"program path", true, REG_SZ, full, kOk, target + "\\"},
        {"quoted path", true, REG_SZ, quotedBytes, kOk, quoted},
        {"missing value", false, REG_SZ, {}, kTargetNotRegistered, ""},
        {"empty value", true, REG_SZ, {0}, kTargetNotRegistered, ""},
        {"longer than 1024 bytes", true, REG_BINARY, Bytes(1100, 'x'), kTargetNotRegistered, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        DeleteRegistryKey(kKey);
        SetRegistryString(kKey, "Other", "present");
        if (c.setValue) SetRegistryValue(kKey, "Path", c.type, c.data);
        SetControlText(gWindow.pathEdit, "typed by the user");
        LocationSpec registry{kRegistryValue, kCurrentUserRoot, kKey, "Path"};
        ASSERT_EQ(c.result, LocateWith(registry, "typed"));
        EXPECT_EQ(c.result == kOk ? c.located : "typed by the user", PathBoxText());
        if (c.result == kOk) {
            EXPECT_EQ(c.located, gSections.target[0]);
        }
    }
    LocationSpec missingKey{kRegistryValue, kCurrentUserRoot, "Software\\EngineTests\\None", ""};
    EXPECT_EQ(kTargetNotRegistered, LocateWith(missingKey));
}

TEST_F(Locate, SystemDirectoriesAreTakenAsTheyCome) {
    char windows[MAX_PATH];
    char system[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    ASSERT_EQ(kOk, LocateWith(Kind(kWindowsDirectory)));
    EXPECT_EQ(windows, gTargetDirectory);
    ASSERT_EQ(kOk, LocateWith(Kind(kSystemDirectory)));
    EXPECT_EQ(system, gTargetDirectory);
    // An unknown kind keeps what the previous location found.
    ASSERT_EQ(kOk, LocateWith(Kind(7)));
    EXPECT_EQ(system, gSections.target[0]);
}

TEST_F(Locate, SeveralSectionsEachStartBehindTheirOwnLocation) {
    RecordStreamWriter w;
    const std::string second = MakeScratchDirectory("second");
    w.Location(LocationSpec{}, true);
    const uint32_t firstStart = static_cast<uint32_t>(w.bytes().size());
    w.BackupName("B0");
    w.NewFile("n.txt", TextBytes("content"));
    w.Registry(RegistryScriptWriter(kCurrentUserRoot, kKey, "x").Finish());
    w.End();
    w.Location(Kind(kWindowsDirectory), true);
    const uint32_t secondStart = static_cast<uint32_t>(w.bytes().size());
    w.BackupName("B1");
    w.Obsolete("o.txt");
    w.End();
    w.Location(LocationSpec{});
    const uint32_t thirdStart = static_cast<uint32_t>(w.bytes().size());
    w.BackupName("B2");
    w.End();
    LoadPatchStream(w.bytes());
    gSections.staging[1] = "left from an earlier run";
    gWindow.requestedTargetPath = second;
    ASSERT_EQ(kOk, LocateTarget());
    EXPECT_EQ(2, gSections.lastSection);
    EXPECT_EQ(firstStart, gSections.sectionStart[0]);
    EXPECT_EQ(secondStart, gSections.sectionStart[1]);
    EXPECT_EQ(thirdStart, gSections.sectionStart[2]);
    EXPECT_EQ(second, gSections.target[2]);
    EXPECT_TRUE(gSections.staging[1].empty());
    RemoveTree(second);
}

TEST_F(Locate, TooManyOrUnreadableSectionsAreDamage) {
    RecordStreamWriter tooMany;
    for (int i = 0; i <= kMaxSections; ++i) {
        tooMany.Location(LocationSpec{}, i < kMaxSections);
        tooMany.BackupName(kBackup);
        tooMany.End();
    }
    RecordStreamWriter truncated;
    truncated.Location(LocationSpec{}, true);
    truncated.BackupName(kBackup);
    truncated.U8(kObsoleteRecord);  // its name is missing
    RecordStreamWriter unknownKind;
    unknownKind.Location(LocationSpec{}, true);
    unknownKind.BackupName(kBackup);
    unknownKind.U8(4);
    RecordStreamWriter shortRegistry;
    shortRegistry.U8(kRegistryValue);
    shortRegistry.U8(0);
    shortRegistry.U32(kCurrentUserRoot);
    for (const RecordStreamWriter* w : {&tooMany, &truncated, &unknownKind, &shortRegistry}) {
        LoadPatchStream(w->bytes());
        EXPECT_EQ(kPatchDamaged, LocateTarget());
    }
}

TEST_F(Locate, FailedLocationRunsNoPassAndMakesNoStagingDirectory) {
    RecordStreamWriter w;
    w.Location(LocationSpec{kRegistryValue, kCurrentUserRoot, "Software\\EngineTests\\None", ""});
    w.BackupName(kBackup);
    w.NewFile("n.txt", TextBytes("n"));
    w.End();
    WriteTree(target, {{"a.txt", TextBytes("a")}});
    EXPECT_EQ(kTargetNotRegistered, Run(w.bytes()));
    EXPECT_EQ(1, LogCount(kTargetNotRegistered));
    EXPECT_EQ((FileTree{{"a.txt", TextBytes("a")}}), ReadTree(target));
}

}  // namespace
