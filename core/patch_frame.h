// Finds the payload in a patch executable: the trailer (in front of a
// certificate table when the file is signed), the header it points to and
// the body between them. One reader for the applier (over its own file) and
// the builder's tools (over a copy in memory).
#pragma once
#include <cstdint>

#include "core/byte_source.h"
#include "core/payload_layout.h"

enum class FrameStatus {
    kOk,
    kTooSmall,       // shorter than a header and a trailer
    kNoPayload,      // no plausible trailer where the payload must end
    kDamagedHeader,  // the trailer points at something without the header magic
};

struct PatchFrame {
    uint32_t payloadEnd = 0;   // behind the trailer
    uint32_t headerStart = 0;  // everything in front of it is the applier's image
    uint32_t bodyStart = 0;
    uint32_t bodySize = 0;
    PatchHeader header{};
};

// Reads and checks trailer and header; the source is left behind the header.
FrameStatus ReadPatchFrame(ByteSource& file, PatchFrame* out);
