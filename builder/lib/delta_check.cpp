#include "builder/lib/delta_choice.h"
#include "builder/lib/delta_encoder.h"

// Stricter than VerifyDelta: the header's block lengths must already be the
// ones the writer will store, so what was checked is what is written.
bool DeltaReproduces(const DeltaVariant& variant, const Bytes& source, const Bytes& target) {
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        if (variant.header.blockLength[b] != variant.blocks[b].size()) return false;
    }
    return VerifyDelta(variant, source, target);
}
