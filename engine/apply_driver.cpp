#include "engine/apply_driver.h"

#include "engine/deferred_rename.h"
#include "engine/file_check.h"
#include "engine/file_commit.h"
#include "engine/name_checks.h"
#include "engine/registry_update.h"
#include "engine/rollback_cleanup.h"
#include "engine/step_times.h"
#include "engine/target_presence.h"
#include "engine/target_location.h"
#include "platform/system_hooks.h"

namespace {

const char kRestartCaption[] = "重新開機以使中文化檔生效";

void CleanUp(ApplyRun& run) {
    RunPass(run, RemoveStagedFile, false);
    RemoveEmptyStagingDirectories(run);
}

// A failure after the check pass: shown, this run's moves undone, anything
// queued for the restart withdrawn, the staging area removed.
ResultCode FailAndRollBack(ApplyRun& run, ResultCode result) {
    WithdrawQueuedRenames(run);
    RestoreRegistryValues(run);
    run.Show(result);
    RunPass(run, RestoreFromBackup, false);
    RunPass(run, RestoreRetiredFile, false);
    CleanUp(run);
    return result;
}

// Files in use: their moves wait for the next start of Windows, and the
// staged files must stay until then, so no cleanup follows. The restart is
// offered only when every move is queued and the registry values are written.
ResultCode DeferAndOfferRestart(ApplyRun& run) {
    ResultCode result = RunPass(run, DeferInUseFile, true);
    if (result == kOk) result = RunPass(run, ApplyRegistryRecord, true);
    if (result != kOk) return FailAndRollBack(run, result);
    // Nothing can fail any more: the older backups of the moves made now go.
    run.succeeded = true;
    RunPass(run, RemoveSetAside, false);
    const std::string question = ExpandMessage(MessageText(MessageId::kAskRestart), run.Texts());
    if (run.host.AskYesNo(question, kRestartCaption) && RequestRestart()) return kFileInUse;
    return kRestartNotDone;
}

#ifdef SELFPATCH_PASS_TIMES
const char* PassName(RunCallback callback) {
    static const struct {
        RunCallback callback;
        const char* name;
    } kNames[] = {{NoteFileName, "note-names"},
                  {CheckAndStage, "check-and-stage"},
                  {CommitFile, "commit"},
                  {ApplyRegistryRecord, "registry"},
                  {DeferInUseFile, "defer"},
                  {RestoreFromBackup, "rollback"},
                  {RestoreRetiredFile, "rollback-retired"},
                  {RemoveSetAside, "remove-set-aside"},
                  {RemoveStagedFile, "cleanup"}};
    for (const auto& entry : kNames) {
        if (entry.callback == callback) return entry.name;
    }
    return "pass";
}
#endif

}  // namespace

ResultCode RunPass(ApplyRun& run, RunCallback callback, bool stopOnError) {
    TIME_STEP(PassName(callback));
    struct Adapter : RecordVisitor {
        Adapter(ApplyRun& r, RunCallback c) : run(r), callback(c) {}
        ResultCode Visit(int section, const CurrentRecord& record) override {
            return callback(run, section, record);
        }
        ApplyRun& run;
        RunCallback callback;
    } adapter(run, callback);
    return PassRunner(run, adapter, stopOnError);
}

ResultCode ApplyDriver(ApplyRun& run) {
    TIME_STEP("run");
    run.Show(MessageId::kCheckingPatch);
    ResultCode result = LocateTarget(run, run.recordsStart);
    // Before anything could create a directory there.
    if (result == kOk) result = CheckTargetsPresent(run);
    if (result != kOk) {
        run.Show(result);
        return result;
    }
    // The restart must carry out the moves an earlier run queued before
    // anything is staged again: a second backup move would take the place of
    // the only copy of an original.
    if (RenamesPendingFor(run)) {
        run.Show(kFileInUse);
        return kFileInUse;
    }
    run.fileNames.clear();
    run.stagedRecords.clear();
    run.queuedRenames.clear();
    run.registryUndo.clear();
    run.retiredNames.clear();
    run.retiredSection = -1;
    run.clearedPlaces.clear();
    run.succeeded = run.rollbackIncomplete = false;
    // Names are judged before anything is staged, so a refusal touches nothing.
    {
        TIME_STEP("name-checks");
        result = CheckPatchNames(run);
    }
    // The next walk makes this run's staging directories and learns the
    // names, so that what an interrupted run left is recognised and removed.
    if (result == kOk) result = RunPass(run, NoteFileName, true);
    if (result == kOk) {
        RemoveStaleStaging(run);
        result = RunPass(run, CheckAndStage, true);
        for (ScopedFile& file : run.blockFiles) file.reset();
    }
    if (result != kOk) {
        run.Show(result);
        CleanUp(run);
        return result;
    }
    run.marks.clear();
    result = RunPass(run, CommitFile, true);
    if (result == kOk) result = RunPass(run, ApplyRegistryRecord, true);
    if (result == kFileInUse) return DeferAndOfferRestart(run);
    if (result != kOk) return FailAndRollBack(run, result);
    run.succeeded = true;
    CleanUp(run);
    return result;
}

ResultCode ApplyPatch(OpenedPatch& patch, RunHost& host) {
    ApplyRun run(patch, host);
    run.log.Clear();
    const ResultCode result = ApplyDriver(run);
    if (result == kOk) run.Show(MessageId::kPatchApplied);
    return result;
}
