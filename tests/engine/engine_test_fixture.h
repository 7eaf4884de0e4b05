// A fixture for whole runs of the engine over a scratch target directory,
// and the patch shapes the tests build again and again.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/lib/delta_encoder.h"
#include "core/crc.h"
#include "core/result_codes.h"
#include "engine/apply_driver.h"
#include "platform/file_primitives.h"
#include "tests/engine/engine_harness.h"

constexpr char kBackup[] = "BAK";
// Every registry value of the tests lives below this key, removed after each test.
constexpr char kKey[] = "Software\\EngineTests";
const Bytes kMissing = TextBytes("<missing>");

// A changed file rebuilt from any of versions (oldest first) into newContent;
// each variant turns one version into the next.
inline ChangedFile ChangeOf(const std::string& name, const std::vector<Bytes>& versions,
                            const Bytes& newContent, uint8_t flags = 0) {
    ChangedFile file;
    file.fileName = name;
    file.header.newCrc = CrcOfBuffer(newContent.data(), newContent.size(), kCrcStart);
    file.header.newSize = static_cast<uint32_t>(newContent.size());
    file.header.fileFlags = flags;
    for (size_t k = 0; k < versions.size(); ++k) {
        const Bytes& next = k + 1 < versions.size() ? versions[k + 1] : newContent;
        file.variants.push_back(EncodeDelta(versions[k], next, EncodeOptions{}));
    }
    return file;
}

// A stream of one section (on the user's path unless told); add records, then Finish.
struct OneSection {
    explicit OneSection(const std::string& backupName = kBackup,
                        const LocationSpec& location = LocationSpec{}) {
        w.Location(location);
        w.BackupName(backupName);
    }
    Bytes Finish() {
        w.End();
        return w.bytes();
    }
    RecordStreamWriter w;
};

class EngineRun : public ::testing::Test {
  protected:
    void SetUp() override {
        InstallRestartHook();
        gRestart = RestartAnswer{};
        target = MakeScratchDirectory("target");
    }
    void TearDown() override {
        patch.payload.Close();
        RemoveTree(target);
        DeleteRegistryKey(kKey);
    }
    // A fresh target holding tree.
    void Reset(const FileTree& tree) {
        RemoveTree(target);
        WriteTree(target, tree);
    }
    // One run as the Apply button starts it; the log starts empty.
    int Run(const Bytes& stream, const std::string& path = "") {
        LoadPatchStream(&patch, stream);
        host.requestedTargetPath = path.empty() ? target : path;
        return ApplyPatch(patch, host);
    }
    int LogCount(int number) const { return host.LogCount(number); }
    int LogCount(MessageId id) const { return host.LogCount(static_cast<int>(id)); }
    std::string At(const std::string& relative) const { return target + "\\" + relative; }

    std::string target;
    OpenedPatch patch;
    FakeHost host;
};
