// The same trees through the applier and through verify: verify says the
// patch applies exactly when the applier applies it, and what it says of each
// file is what the applier then does.
#include <sstream>

#include "builder/cli/commands.h"
#include "core/check_decision.h"
#include "platform/path_probe.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

const Bytes kOlder = TextBytes("first contents"), kOld = TextBytes("old contents of the program");
const Bytes kNew = TextBytes("new contents");
const Bytes kOther = TextBytes("someone else's file");

class VerdictAgreement : public EngineRun {
  protected:
    // verify's exit code and output for the stream against the target.
    int Verify(const Bytes& stream, std::string* output) {
        const std::string patchPath = target + ".exe";
        const Bytes stub(512, 0);  // verify reads only what stands behind it
        const Bytes file =
            BuildPatchFile(stub, BuildPayload({}, {}, stream), 0, 0, PatchFileOptions{});
        EXPECT_TRUE(WriteFileBytes(patchPath, file));
        std::ostringstream out, err;
        const int code = RunVerify({patchPath, target}, out, err);
        DeleteFileA(patchPath.c_str());
        *output = out.str() + err.str();
        return code;
    }
};

TEST_F(VerdictAgreement, ApplierAndVerifyDecideAlike) {
    // Lengths at the edge of what the file calls take below this target:
    // the staging path T\PATCH9999.TMP\N is the longest (259 bytes fit).
    const size_t fits = kMaxFilePath - 1 - (FullPathOf(target).size() + 15);
    const std::string fitting(fits, 'n'), tooLong(fits + 1, 'n');
    struct Case {
        const char* what;
        FileTree tree;
        std::string newFile;  // the record's new file, if any
        uint8_t flags;        // of the changed file a.exe
        const char* backup;
        int applier;
        const char* verdict;                    // verify's words for the deciding record
        std::vector<std::string> retired = {};  // obsolete records, written first
    };
    // clang-format off
    const Case cases[] = {
        {"oldest version", {{"a.exe", kOlder}}, "", 0, kBackup, kOk, "a.exe: rebuildable from version 1"},
        {"second version", {{"a.exe", kOld}}, "", 0, kBackup, kOk, "a.exe: rebuildable from version 2"},
        {"already new", {{"a.exe", kNew}}, "", 0, kBackup, kOk, "a.exe: already new"},
        {"killed run: only in the backup", {{"BAK\\", {}}, {"BAK\\a.exe", kOld}}, "", 0, kBackup, kOk,
         "from version 2 (copy in the backup)"},
        {"foreign beside an old copy in the backup", {{"a.exe", kOther}, {"BAK\\", {}}, {"BAK\\a.exe", kOld}},
         "", 0, kBackup, kOk, "from version 2 (copy in the backup)"},
        {"first listed version wins, wherever it is", {{"a.exe", kOld}, {"BAK\\", {}}, {"BAK\\a.exe", kOlder}},
         "", 0, kBackup, kOk, "from version 1 (copy in the backup)"},
        {"foreign", {{"a.exe", kOther}}, "", 0, kBackup, kNoMatchingSource, "a.exe: FOREIGN"},
        {"nothing of the product there", {{"other.txt", kOther}}, "", 0, kBackup, kNotForThisTarget,
         ".: NO FILE OF THE PATCH"},
        {"optional, foreign", {{"a.exe", kOther}}, "", kOptional, kBackup, kOk, "a.exe: optional, left alone"},
        {"optional, missing", {}, "", kOptional, kBackup, kOk, "a.exe: optional, left alone"},
        {"path that just fits", {{"a.exe", kOld}}, fitting, 0, kBackup, kOk, "new file, created"},
        {"path one byte too long", {{"a.exe", kOld}}, tooLong, 0, kBackup, kInternalFileError, "PATH TOO LONG"},
        {"backup directory on a file", {{"a.exe", kOld}}, "", 0, "a.exe", kInternalFileError, "REFUSED NAME"},
        {"a file becomes a directory", {{"a.exe", kOld}, {"x", kOther}}, "x\\in.txt", 0, kBackup, kOk,
         "in.txt: new file, created", {"x"}},
        {"a directory becomes a file",
         {{"a.exe", kOld}, {"x\\", {}}, {"x\\in.txt", kOther}, {"x\\s\\", {}}, {"x\\s\\f", kOld}},
         "x", 0, kBackup, kOk, "x: new file, created", {"x\\in.txt", "x\\s\\f"}},
        {"a directory that keeps a file of the user's",
         {{"a.exe", kOld}, {"x\\", {}}, {"x\\in.txt", kOther}, {"x\\mine", kOther}},
         "x", 0, kBackup, kNoMatchingSource, "x: PLACE TAKEN", {"x\\in.txt"}},
        {"a file on the way that no record retires", {{"a.exe", kOld}, {"x", kOther}}, "x\\in.txt", 0,
         kBackup, kNoMatchingSource, "PLACE TAKEN"},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        OneSection s(c.backup);
        for (const std::string& name : c.retired) s.w.Obsolete(name);
        s.w.Changed(ChangeOf("a.exe", {kOlder, kOld}, kNew, c.flags));
        if (!c.newFile.empty()) s.w.NewFile(c.newFile, TextBytes("n"));
        // Passed over by the applier and by inspect alike.
        RegistryScriptWriter script(kCurrentUserRoot, kKey, "Installed");
        script.Op(7);
        s.w.Registry(script.Finish());
        const Bytes stream = s.Finish();
        SetRegistryValue(kKey, "Installed", TextBytes("yes"));

        Reset(c.tree);
        CreateDirectoryA(target.c_str(), nullptr);
        std::string said;
        const int verified = Verify(stream, &said);
        EXPECT_EQ(ReadTree(target), c.tree) << "verify changed the directory";
        EXPECT_NE(said.find(c.verdict), std::string::npos) << said;
        EXPECT_EQ(c.applier, Run(stream));
        EXPECT_EQ(verified, c.applier == kOk ? kExitOk : kExitWouldFail) << said;
    }
}

}  // namespace
