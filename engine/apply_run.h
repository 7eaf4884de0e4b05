// The state of one run of the patch: the walk over the payload, the log
// writer and what the passes remember between them. Made for the run and
// handed to every pass and callback.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "container/open_patch.h"
#include "container/pass_runner.h"
#include "messages/catalogue.h"
#include "messages/log_writer.h"
#include "platform/file_primitives.h"

// What the apply pass of this run did to the destination of one record.
enum class CommitMark {
    kNone,       // nothing moved (already new, nothing staged, or not reached)
    kBackedUp,   // the destination went into the backup directory
    kPlacedNew,  // a staged file arrived where no file was before
};

// A record is known by where it ends in the payload (RecordWalk::recordEnd),
// which is unique in the stream and the same in every pass.
struct MarkedRecord {
    uint32_t recordEnd;
    CommitMark mark;
};

// A registry value as it was before this run first wrote it.
struct SavedRegistryValue {
    uint32_t rootKey = 0;
    std::string keyPath;
    std::string valueName;
    bool existed = true;
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct ApplyRun : RecordWalk {
    ApplyRun(OpenedPatch& patch, RunHost& host)
        : RecordWalk(patch.payload, host),
          recordsStart(patch.recordsStart),
          patchPath(patch.path),
          log(host) {}

    // Writes a catalogue message into the log, its placeholders filled from the run.
    void Show(MessageId id) { log.Write(ExpandMessage(MessageText(id), Texts())); }
    void Show(ResultCode result) { log.Write(ExpandMessage(MessageText(result), Texts())); }
    MessageTexts Texts() const { return {patchPath, record.fileName, targetDirectory}; }

    const uint32_t recordsStart;
    const std::string patchPath;
    LogWriter log;
    std::vector<MarkedRecord> marks;  // the apply pass's moves, for the rollback
    // Records (by their end) whose file the check pass staged: the apply pass
    // must find each one, never pass over one that has gone.
    std::vector<uint32_t> stagedRecords;
    bool firstIntermediate = false;  // which of the two intermediate names comes next
    // The five block files of a delta step, used again by every step of the
    // check pass and closed (which deletes them) after it.
    ScopedFile blockFiles[kDeltaBlockCount];
    // Older backups that the apply pass set aside go for good only once the
    // run has succeeded; until then the rollback puts them back.
    bool succeeded = false;
    bool rollbackIncomplete = false;  // a rollback step failed and was reported
    // Names of the obsolete records the check pass has met so far in the
    // section it walks: what clears the way for a file or directory of the
    // same name.
    std::vector<std::string> retiredNames;
    int retiredSection = -1;
    // Records (by their end) whose file takes the place of a directory that
    // the obsolete records before them empty: the apply pass removes it.
    std::vector<uint32_t> clearedPlaces;
    // Every file name of the patch by section, for recognising what an
    // interrupted run left in a staging directory.
    std::vector<std::pair<int, std::string>> fileNames;
    std::vector<std::string> backupNames = std::vector<std::string>(kMaxSections);
    // Moves queued for the next start of Windows, withdrawn if the run fails.
    std::vector<std::pair<std::string, std::string>> queuedRenames;
    // Registry values written by this run, put back if it fails.
    std::vector<SavedRegistryValue> registryUndo;
};

// A pass callback: handles one record of a section.
// It is handed the record it acts on; the record's paths come from
// engine/target_paths.h.
using RunCallback = ResultCode (*)(ApplyRun& run, int section, const CurrentRecord& record);
// Walks every section with callback (see PassRunner).
ResultCode RunPass(ApplyRun& run, RunCallback callback, bool stopOnError);
