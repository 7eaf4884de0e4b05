// Locating the target: the user's path, a registry value, the Windows and
// system directories, and several sections.
#include "engine/target_location.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

LocationSpec Kind(uint8_t kind) {
    LocationSpec location;
    location.kind = kind;
    return location;
}

class Locate : public EngineRun {
  protected:
    int LocateWith(const LocationSpec& location, const std::string& requested) {
        return LocateStream(OneSection(kBackup, location).Finish(), requested);
    }
    int LocateStream(const Bytes& stream, const std::string& requested = "typed") {
        LoadPatchStream(&patch, stream);
        host.requestedTargetPath = requested;
        walk.sections = SectionTables();
        return LocateTarget(walk, 0);
    }
    RecordWalk walk{patch.payload, host};
};

TEST_F(Locate, UserPathIsCutToDirectoryOnlyForExistingFiles) {
    // The second byte of the double-byte name is 0x5C, which is no separator.
    WriteTree(target, {{"prog.exe", TextBytes("MZ")}, {"dir\\", {}}, {"\xA5\x5C.exe", {}}});
    char current[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, current);
    SetCurrentDirectoryA(target.c_str());
    const std::pair<std::string, std::string> cases[] = {
        {"", "."},  // an emptied path box is the current directory
        {target + "\\prog.exe", target + "\\"},
        {"prog.exe", "."},
        {target + "\\dir", target + "\\dir"},
        {target + "\\dir\\", target + "\\dir\\"},
        {target + "\\missing.exe", target + "\\missing.exe"},
        {target + "\\\xA5\x5C.exe", target + "\\"},
        {target + "/prog.exe", target + "/"},
    };
    for (const auto& [requested, located] : cases) {
        SCOPED_TRACE(requested);
        ASSERT_EQ(kOk, LocateWith(LocationSpec{}, requested));
        EXPECT_EQ(located, walk.sections.target[0]);
        EXPECT_EQ(located, host.shownTarget);
        EXPECT_EQ(0, walk.sections.lastSection);
    }
    SetCurrentDirectoryA(current);
}

// The value is cut like a typed path, a quoted one is taken as it stands; an
// unusable value leaves the path box and the target alone.
TEST_F(Locate, RegistryValueNamesTheTargetWhateverTheUserTyped) {
    WriteTree(target, {{"app.exe", TextBytes("MZ")}});
    const std::string quoted = "\"" + target + "\\app.exe\"";
    // type, data (empty: no value), located (empty: not registered)
    const std::tuple<DWORD, Bytes, std::string> cases[] = {
        {REG_SZ, TextBytes(target + "\\app.exe"), target + "\\"},
        {REG_SZ, TextBytes(quoted), quoted},
        {REG_SZ, {}, ""},
        {REG_SZ, {0}, ""},
        {REG_BINARY, Bytes(1100, 'x'), ""},  // longer than 1,024 bytes
    };
    const LocationSpec registry{kRegistryValue, kCurrentUserRoot, kKey, "Path"};
    for (const auto& [type, data, located] : cases) {
        SCOPED_TRACE(located + " " + std::to_string(data.size()));
        DeleteRegistryKey(kKey);
        SetRegistryValue(kKey, "Other", TextBytes("present"));
        if (!data.empty()) SetRegistryValue(kKey, "Path", data, type);
        host.shownTarget = "typed by the user";
        ASSERT_EQ(located.empty() ? kTargetNotRegistered : kOk, LocateWith(registry, "typed"));
        EXPECT_EQ(located.empty() ? "typed by the user" : located, host.shownTarget);
        if (!located.empty()) {
            EXPECT_EQ(located, walk.sections.target[0]);
        }
    }
    // A failed location runs no pass: nothing is staged or placed.
    OneSection s(kBackup, {kRegistryValue, kCurrentUserRoot, kKey + std::string("\\None"), ""});
    s.w.NewFile("n.txt", TextBytes("n"));
    EXPECT_EQ(kTargetNotRegistered, Run(s.Finish()));
    EXPECT_EQ(1, LogCount(kTargetNotRegistered));
    EXPECT_EQ((FileTree{{"app.exe", TextBytes("MZ")}}), ReadTree(target));
}

// Each section's body starts behind its own location, whatever its kind; an
// unknown kind keeps the directory in force.
TEST_F(Locate, SeveralSectionsEachStartBehindTheirOwnLocation) {
    char windows[MAX_PATH], system[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    GetSystemDirectoryA(system, MAX_PATH);
    SetRegistryValue(kKey, "Path", TextBytes(target));
    const std::pair<LocationSpec, std::string> sections[] = {
        {LocationSpec{kRegistryValue, kCurrentUserRoot, kKey, "Path"}, target},
        {Kind(kWindowsDirectory), windows},
        {Kind(kSystemDirectory), system},
        {Kind(7), system},
        {LocationSpec{}, "typed"}};
    constexpr int kCount = std::size(sections);
    RecordStreamWriter w;
    uint32_t starts[kCount];
    for (int k = 0; k < kCount; ++k) {
        w.Location(sections[k].first, k + 1 < kCount);
        starts[k] = static_cast<uint32_t>(w.bytes().size());
        w.BackupName("B" + std::to_string(k));
        w.NewFile("n.txt", TextBytes("content"));
        w.Registry(RegistryScriptWriter(kCurrentUserRoot, kKey, "x").Finish());
        w.End();
    }
    ASSERT_EQ(kOk, LocateStream(w.bytes()));
    EXPECT_EQ(kCount - 1, walk.sections.lastSection);
    for (int k = 0; k < kCount; ++k) {
        EXPECT_EQ(starts[k], walk.sections.sectionStart[k]) << k;
        EXPECT_EQ(sections[k].second, walk.sections.target[k]) << k;
    }
}

TEST_F(Locate, TooManyOrUnreadableSectionsAreDamage) {
    RecordStreamWriter tooMany;
    for (int i = 0; i <= kMaxSections; ++i) {
        tooMany.Location(LocationSpec{}, i < kMaxSections);
        tooMany.BackupName(kBackup);
        tooMany.End();
    }
    RecordStreamWriter truncated, shortRegistry;
    truncated.Location(LocationSpec{}, true);
    truncated.BackupName(kBackup);
    truncated.U8(RecordCode(RecordKind::kObsolete));  // its name is missing
    shortRegistry.U8(kRegistryValue);
    shortRegistry.U8(0);
    shortRegistry.U32(kCurrentUserRoot);
    for (const RecordStreamWriter* w : {&tooMany, &truncated, &shortRegistry}) {
        EXPECT_EQ(kPatchDamaged, LocateStream(w->bytes()));
    }
}

}  // namespace
