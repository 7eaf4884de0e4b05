// Finds the payload behind the executable's image and extracts it.
#pragma once
#include <string>

#include "container/payload_file.h"
#include "core/payload_layout.h"
#include "core/result_codes.h"
#include "platform/file_primitives.h"

// Stands for a NUL of the stored description, which the window turns into a line break.
constexpr char kDescriptionSeparator = 0x01;

// The opened patch, kept for the life of the process.
struct OpenedPatch {
    std::string path;       // full path of the running executable ("%p")
    ScopedFile executable;  // open for reading until the process ends
    PayloadFile payload;    // 0 until extracted
    PatchHeader header = {};
    uint32_t recordsStart = 0;
    // Where the trailer ends: the file's end, or the start of the certificate
    // table of a signed executable (less its padding).
    uint32_t payloadEnd = 0;
};

// The texts at the head of the payload, prepared for the window.
struct PatchTexts {
    std::string notice;       // what stands before "#%", NULs as line breaks
    std::string description;  // NULs as kDescriptionSeparator; empty when the patch has none
};

// Opens patch->path, checks trailer and header, extracts the payload and
// reads its texts: kOk, kPatchDamaged, kNotAPatch, kCannotOpenPatch,
// kUnreadablePatch or kTempFull.
ResultCode OpenPatch(OpenedPatch* patch, PatchTexts* texts);
// Called with the executable positioned behind the header: kOk,
// kPatchDamaged or kTempFull.
ResultCode ExtractPayload(OpenedPatch* patch);
