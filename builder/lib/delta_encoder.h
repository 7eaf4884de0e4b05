// Produces the five delta blocks that turn a source into a target. The result
// is always decoded again with the shared decoder before it is used.
#pragma once
#include <cstdint>

#include "builder/lib/payload_writer.h"

struct EncodeOptions {
    uint16_t groupSize = 0;  // 0 = choose
    uint8_t chunkSize = 0;   // 0 = choose
    bool allowReachOutput = true;
    bool rawDiffs = false;
};

// A variant turning source into target: header (sourceCrc, sourceSize, flags,
// group and chunk sizes, block lengths) and blocks filled in.
DeltaVariant EncodeDelta(const Bytes& source, const Bytes& target, const EncodeOptions& options);

// Decodes variant against source with the shared decoder; true when the
// result equals target byte for byte.
bool VerifyDelta(const DeltaVariant& variant, const Bytes& source, const Bytes& target);
