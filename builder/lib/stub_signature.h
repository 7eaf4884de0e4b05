// An applier that was signed before it became a stub. Its certificate table
// would end up inside the patch, where it signs nothing, and a signature
// added to the patch later reads as failed. The builder takes such a stub
// without its table (the patch is signed as a whole afterwards).
#pragma once
#include <cstdint>

#include "builder/lib/payload_writer.h"

enum class StubSignature {
    kUnsigned,  // no certificate table ends the file (as the applier reads it): unchanged
    kStripped,  // the table is gone, the stub is the applier as built
};

// Cuts the certificate table that ends the file, with the zeros a signing
// tool put in front of it (never bytes of a section), clears the security
// directory and computes the image checksum again (unless it is zero): the
// applier signed and stripped is the applier as built. *removed: bytes cut.
StubSignature StripStubSignature(Bytes* stub, uint32_t* removed);
