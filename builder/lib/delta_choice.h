// Chooses, per file, how a delta is laid out: with or without reaching into
// the output, which diff lengths, group and chunk sizes. Every candidate is
// compressed and the smallest one wins; the winner is decoded again with the
// shared decoder before it is returned.
#pragma once
#include <string>

#include "builder/lib/delta_encoder.h"
#include "builder/lib/payload_writer.h"

// The largest source or target the encoder takes: positions and the decoder's
// bound are signed 32-bit values.
constexpr uint32_t kMaxDeltaFileSize = 0x3FFFFFFFu;

// True with a verified variant, or false with a text saying why. A candidate that
// fails its decode check is dropped; the plain insert-only layout always
// remains, so a result is found for every input within the size limit.
bool EncodeSmallestDelta(const Bytes& source, const Bytes& target, const EncodeOptions& options,
                         DeltaVariant* variant, std::string* error);

// Decodes variant against source with the shared decoder: true when the
// output equals target byte for byte.
bool DeltaReproduces(const DeltaVariant& variant, const Bytes& source, const Bytes& target);

// Size of data after raw deflate at level (zlib), for comparing candidates.
size_t DeflatedSize(const Bytes& data, int level);
