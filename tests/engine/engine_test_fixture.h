// A fixture for whole runs of the engine over a scratch target directory,
// and the few patch shapes the tests build again and again.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/lib/delta_encoder.h"
#include "builder/lib/payload_writer.h"
#include "container/pass_runner.h"
#include "core/crc.h"
#include "engine/apply_driver.h"
#include "messages/log_writer.h"
#include "tests/engine/engine_harness.h"
#include "ui/window_services.h"

constexpr char kBackup[] = "BAK";

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

// A stream of one section on the user's path; add records, then Finish.
class OneSection {
  public:
    explicit OneSection(const std::string& backupName = kBackup) {
        w.Location(LocationSpec{});
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
        CreateHiddenWindow();
        InstallHooks();
        ClearLog();
        gAnswers = HookAnswers{};
        target = MakeScratchDirectory("target");
    }
    void TearDown() override {
        CloseLoadedPatch();
        RemoveTree(target);
    }
    int Run(const Bytes& stream) { return RunAt(stream, target); }
    int RunAt(const Bytes& stream, const std::string& path) {
        LoadPatchStream(stream);
        gWindow.requestedTargetPath = path;
        return ApplyDriver();
    }
    std::string At(const std::string& relative) const { return target + "\\" + relative; }
    // True when no staging directory is left in the target.
    bool NoStagingLeft() const {
        for (const auto& entry : ReadTree(target)) {
            if (entry.first.rfind("PATCH", 0) == 0) return false;
        }
        return true;
    }

    std::string target;
};
