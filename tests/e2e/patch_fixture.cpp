#include "tests/e2e/patch_fixture.h"

#include "builder/lib/delta_encoder.h"
#include "core/crc.h"

namespace {

constexpr char kNotice[] = "e2e notice";
constexpr char kBackupName[] = "BACKUP";

Bytes PatchRecords(const TestPatch& patch) {
    RecordStreamWriter stream;
    stream.Location(LocationSpec{});
    stream.BackupName(kBackupName);
    for (const auto& [name, oldContent, newContent] : patch.changes) {
        ChangedFile file;
        file.fileName = name;
        file.header.newCrc = CrcOfBuffer(newContent.data(), newContent.size(), kCrcStart);
        file.header.newSize = static_cast<uint32_t>(newContent.size());
        file.variants.push_back(EncodeDelta(oldContent, newContent, EncodeOptions{}));
        stream.Changed(file);
    }
    if (!patch.newFileName.empty()) stream.NewFile(patch.newFileName, patch.newFileContent);
    stream.End();
    return stream.bytes();
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
