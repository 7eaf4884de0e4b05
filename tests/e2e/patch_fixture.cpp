#include "tests/e2e/patch_fixture.h"

#include "tests/engine/engine_test_fixture.h"

namespace {

constexpr char kNotice[] = "e2e notice";

// The tests expect the backup in BACKUP, not in the engine tests' own.
Bytes PatchRecords(const TestPatch& patch) {
    OneSection s("BACKUP");
    for (const auto& [name, oldContent, newContent] : patch.changes) {
        s.w.Changed(ChangeOf(name, {oldContent}, newContent));
    }
    if (!patch.newFileName.empty()) s.w.NewFile(patch.newFileName, patch.newFileContent);
    return s.Finish();
}

}  // namespace

bool WritePatchExecutable(const std::string& path, const TestPatch& patch) {
    const Bytes stub = ReadFileBytes(ApplierPath());
    if (stub.empty()) return false;
    const Bytes notice = TextBytes(kNotice);
    const Bytes description = TextBytes(patch.description);
    const Bytes payload = BuildPayload(notice, description, PatchRecords(patch));
    return WriteFileBytes(
        path, BuildPatchFile(stub, payload, static_cast<uint16_t>(notice.size()),
                             static_cast<uint16_t>(description.size()), PatchFileOptions{}));
}
