#include "core/check_decision.h"

#include <gtest/gtest.h>

#include <map>

#include "builder/lib/delta_encoder.h"
#include "core/crc.h"
#include "core/registry_script.h"
#include "core/windows_names.h"
#include "tests/core/test_bytes.h"

namespace {

// A directory in memory, looked up as Windows looks names up.
struct MemoryProbe : FileProbe {
    ProbeAnswer Compare(const std::string& relative, const FileFingerprint& expected) override {
        auto found = files.find(WindowsNameKey(relative));
        if (found == files.end()) return ProbeAnswer::kAbsent;
        const Bytes& content = found->second;
        return content.size() == expected.size &&
                       CrcOfBuffer(content.data(), content.size(), kCrcStart) == expected.crc
                   ? ProbeAnswer::kMatches
                   : ProbeAnswer::kDiffers;
    }
    bool Exists(const std::string& relative) override {
        return files.count(WindowsNameKey(relative)) != 0;
    }
    std::map<std::string, Bytes> files;  // by name key
};

CurrentRecord ReadOne(const Bytes& stream) {
    MemoryByteSource in(stream.data(), static_cast<uint32_t>(stream.size()));
    CurrentRecord record;
    EXPECT_EQ(ReadRecord(in, &record), ReadRecordStatus::kOk);
    return record;
}

// A changed file app.exe with versions v1 and v2 (oldest first) of new.
CurrentRecord ChangedRecord(const Bytes& v1, const Bytes& v2, const Bytes& newer, uint8_t flags) {
    ChangedFile file;
    file.fileName = "App.exe";
    file.header.newCrc = CrcOfBuffer(newer.data(), newer.size(), kCrcStart);
    file.header.newSize = static_cast<uint32_t>(newer.size());
    file.header.fileFlags = flags;
    file.variants.push_back(EncodeDelta(v1, v2, EncodeOptions{}));
    file.variants.push_back(EncodeDelta(v2, newer, EncodeOptions{}));
    RecordStreamWriter w;
    w.Changed(file);
    return ReadOne(w.bytes());
}

// The one decision the applier acts on and verify reports: the file itself
// first, then per version the target before the backup directory, which is
// searched whenever the target does not hold the version, also when the file
// is gone (a run ended between its two moves).
TEST(CheckDecision, ChangedFileVerdicts) {
    const Bytes v1 = RandomBytes(1, 3000), v2 = RandomBytes(2, 3000), v3 = RandomBytes(3, 3100);
    const Bytes other = RandomBytes(4, 10);
    struct Case {
        const char* what;
        std::map<std::string, Bytes> tree;
        uint8_t flags;
        CheckVerdict verdict;
        int variant;
        bool fails;
    };
    const Case cases[] = {
        {"new already", {{"APP.EXE", v3}}, 0, CheckVerdict::kAlreadyNew, -1, false},
        {"oldest version", {{"APP.EXE", v1}}, 0, CheckVerdict::kFromTarget, 0, false},
        {"second version", {{"APP.EXE", v2}}, 0, CheckVerdict::kFromTarget, 1, false},
        {"foreign, old copy in backup",
         {{"APP.EXE", other}, {"BAK\\APP.EXE", v2}},
         0,
         CheckVerdict::kFromBackup,
         1,
         false},
        {"killed run: only the backup",
         {{"BAK\\APP.EXE", v1}},
         0,
         CheckVerdict::kFromBackup,
         0,
         false},
        {"first listed version wins, wherever it is",
         {{"APP.EXE", v2}, {"BAK\\APP.EXE", v1}},
         0,
         CheckVerdict::kFromBackup,
         0,
         false},
        {"nothing", {}, 0, CheckVerdict::kMissing, -1, true},
        {"foreign", {{"APP.EXE", other}}, 0, CheckVerdict::kForeign, -1, true},
        {"optional foreign", {{"APP.EXE", other}}, kOptional, CheckVerdict::kForeign, -1, false},
        {"optional missing", {}, kOptional | kSilent, CheckVerdict::kMissing, -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        MemoryProbe probe;
        for (const auto& [name, content] : c.tree) probe.files[WindowsNameKey(name)] = content;
        const CurrentRecord record = ChangedRecord(v1, v2, v3, c.flags);
        const RecordCheck check = CheckRecord(record, "bak", probe);
        EXPECT_EQ(check.verdict, c.verdict);
        EXPECT_EQ(check.variant, c.variant);
        EXPECT_EQ(VerdictFailsRun(record, check.verdict), c.fails);
    }
}

// Full paths of 259 bytes pass, 260 do not; every path of the record counts.
TEST(CheckDecision, PathLengthsAsTheFileCallsTakeThem) {
    const std::string target = "C:\\" + std::string(20, 't');  // 23 bytes
    const std::string backup = "BACKUP-OF-V1.0";               // longer than PATCH9999.TMP
    // T\B\N is the longest: 23 + 1 + 14 + 1 + N.
    const size_t longest = kMaxFilePath - 1 - (target.size() + backup.size() + 2);
    EXPECT_TRUE(PathsFitFileCalls(target, backup, std::string(longest, 'n')));
    EXPECT_FALSE(PathsFitFileCalls(target, backup, std::string(longest + 1, 'n')));
    // A directory must leave room for an 8.3 name.
    const std::string deep = std::string(240, 'd') + "\\f";
    EXPECT_FALSE(PathsFitFileCalls("C:\\a", "B", deep));
    EXPECT_TRUE(PathsFitFileCalls("C:\\a", "B", std::string(200, 'd') + "\\f"));
}

// Unknown operations carry no operands and are kept in order; a script is
// damaged when anything runs past its length or End is missing.
TEST(RegistryScriptReader, OneReadingOfEveryScript) {
    RegistryScriptWriter writer(0x80000002u, "Software\\App", "Path");
    writer.Op(7);
    writer.OpenKey(0x80000001u, "Software\\App");
    writer.SetValue("Name", 1, BytesOf("x"));
    writer.Op(200);
    const Bytes script = writer.Finish();
    MemoryByteSource in(script.data(), static_cast<uint32_t>(script.size()));
    RegistryScript read;
    ASSERT_TRUE(ReadRegistryScript(in, static_cast<uint32_t>(script.size()), &read));
    EXPECT_EQ(read.checkKeyPath, "Software\\App");
    ASSERT_EQ(read.operations.size(), 4u);
    EXPECT_EQ(read.operations[0].kind, RegistryOpKind::kUnknown);
    EXPECT_EQ(read.operations[0].code, 7);
    EXPECT_EQ(read.operations[1].rootKey, 0x80000001u);
    EXPECT_EQ(read.operations[2].data, BytesOf("x"));
    EXPECT_EQ(read.operations[3].code, 200);
    // Every shorter length cuts a field or drops End.
    for (uint32_t length = 0; length < script.size(); ++length) {
        MemoryByteSource cut(script.data(), static_cast<uint32_t>(script.size()));
        EXPECT_FALSE(ReadRegistryScript(cut, length, &read)) << length;
    }
}

// A second byte 0x5C is part of its character, never a separator.
TEST(ParentDirectories, SplitAsWindowsReadsTheName) {
    const std::string xu = "\xB3\x5C";  // one double-byte character
    EXPECT_EQ(ParentDirectories("a\\" + xu + "\\f.txt"),
              (std::vector<std::string>{"a\\" + xu, "a"}));
    EXPECT_EQ(ParentDirectories(xu + "b/f"), (std::vector<std::string>{xu + "b"}));
    EXPECT_TRUE(ParentDirectories("f.txt").empty());
}

}  // namespace
