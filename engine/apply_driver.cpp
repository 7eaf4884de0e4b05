#include "engine/apply_driver.h"

#include "container/pass_runner.h"
#include "core/result_codes.h"
#include "engine/deferred_rename.h"
#include "engine/file_check.h"
#include "engine/file_commit.h"
#include "engine/registry_update.h"
#include "engine/rollback_cleanup.h"
#include "engine/target_location.h"
#include "messages/log_writer.h"
#include "messages/message_boxes.h"
#include "platform/system_hooks.h"
#include "ui/window_services.h"

int32_t gCommittedCount = 0;

namespace {

constexpr UINT kRestartButtons = MB_YESNO;
const char kRestartCaption[] = "重新開機以使中文化檔生效";

// Files in use: their moves wait for the next start of Windows, and the
// staged files must stay until then, so no cleanup follows.
int DeferAndOfferRestart() {
    PassRunner(DeferInUseFile, false);
    if (AskYesNo(kAskRestart, kRestartCaption, kRestartButtons) && RequestRestart()) {
        return kFileInUse;
    }
    return kRestartNotDone;
}

void CleanUp() {
    PassRunner(RemoveStagedFile, false);
    RemoveEmptyStagingDirectories();
}

}  // namespace

int ApplyDriver() {
    // A stop confirmed during an earlier run must not end this one.
    gWindow.stopRequested = false;
    ShowInfo(kCheckingPatch);
    int result = LocateTarget();
    if (result != kOk) {
        ShowError(result);
        return result;
    }
    result = PassRunner(CheckAndStage, true);
    if (result != kOk) {
        ShowError(result);
        CleanUp();
        return result;
    }
    gCommittedCount = 0;
    ClearCommitMarks();
    result = PassRunner(CommitFile, true);
    if (result == kOk) result = PassRunner(ApplyRegistryRecord, true);
    if (result == kFileInUse) return DeferAndOfferRestart();
    if (result != kOk) {
        ShowError(result);
        PassRunner(RestoreFromBackup, false);
    }
    CleanUp();
    return result;
}
