// A full disk while files are staged and while they are moved: the run says
// so (message 39), the target is as it was, and nothing is left behind. The
// drives are small tmpfs mounts mapped into the prefix (tools/small-drive.sh);
// without them the test is skipped.
#include "container/open_patch.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

class DiskFull : public EngineRun {};

TEST_F(DiskFull, FullDiskIsReportedAndChangesNothing) {
    // where, drive (its root: nothing else uses its space), before, newFileSize (a new file of
    // this size joins the patch, unless 0)
    // clang-format off
    const std::tuple<const char*, const char*, FileTree, size_t> cases[] = {
        // 160 KiB hold the old files and the rebuilt ones, not the new one as well.
        {"staging", "S:\\",
         {{"a.bin", PseudoRandomBytes(40000, 1)}, {"b.bin", PseudoRandomBytes(30000, 2)}}, 90000},
        // Eight inodes: the root, three files, the staging directory and three
        // staged files; the backup directory finds no room.
        {"moving", "R:\\", {{"a.bin", PseudoRandomBytes(4000, 1)}, {"b.bin", PseudoRandomBytes(3000, 2)},
                            {"c.bin", PseudoRandomBytes(2000, 3)}}, 0}};
    // clang-format on
    for (const auto& [where, drive, before, newFileSize] : cases) {
        SCOPED_TRACE(where);
        if (GetFileAttributesA(drive) == INVALID_FILE_ATTRIBUTES) {
            GTEST_SKIP() << "no small drive " << drive << " (tools/small-drive.sh needs root)";
        }
        const std::string root = drive;
        RemoveTree(root.substr(0, 2));
        WriteTree(root.substr(0, 2), before);
        OneSection s;
        for (const auto& [name, content] : before) {
            s.w.Changed(ChangeOf(name, {content}, ScatteredChange(content, 1000)));
        }
        if (newFileSize) s.w.NewFile("n.bin", PseudoRandomBytes(newFileSize, 3));
        EXPECT_EQ(kDiskFull, Run(s.Finish(), root));
        EXPECT_EQ(1, LogCount(kDiskFull));
        EXPECT_EQ(before, ReadTree(root.substr(0, 2)));
        RemoveTree(root.substr(0, 2));
    }
}

// The temporary drive fills while the payload is extracted: message 40, and
// the payload file goes with its handle.
TEST(DiskFullExtraction, FullTemporaryDriveIsReportedAndLeavesNothing) {
    if (GetFileAttributesA("S:\\") == INVALID_FILE_ATTRIBUTES) {
        GTEST_SKIP() << "no small drive S: (tools/small-drive.sh needs root)";
    }
    RemoveTree("S:");
    const std::string dir = MakeScratchDirectory("patch");
    // Larger than the drive, and stored, so the download itself stays small enough.
    const Bytes payload = PseudoRandomBytes(400000, 5);
    WriteFileBytes(dir + "\\p.exe", BuildPatchFile({'M', 'Z'}, payload, 0, 0, PatchFileOptions()));
    char saved[MAX_PATH] = {};
    const DWORD savedLength = GetEnvironmentVariableA("TMP", saved, MAX_PATH);
    SetEnvironmentVariableA("TMP", "S:\\");
    {
        OpenedPatch patch;
        patch.path = dir + "\\p.exe";
        PatchTexts texts;
        EXPECT_EQ(kTempFull, OpenPatch(&patch, &texts));
    }
    SetEnvironmentVariableA("TMP", savedLength ? saved : nullptr);
    EXPECT_EQ(FileTree{}, ReadTree("S:"));
    RemoveTree(dir);
}

}  // namespace
