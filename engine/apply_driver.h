// One run of the patch: locate the target, then the passes in fixed order.
#pragma once
#include <cstdint>

extern int32_t gCommittedCount;

// 0 on success; 7 when the deferred replacement was queued and the restart
// requested; 10 when it was queued without a restart; otherwise the failure,
// already shown.
int ApplyDriver();
