// Rebuilds one step of a changed file from its source and the five delta
// blocks of a variant. The loop is pure: every byte comes and goes through
// DeltaStepIo, so the applier runs it over its files and the builder over
// memory. Every length is checked against what remains in its block.
#pragma once
#include <cstdint>

#include "core/record_layout.h"

class DeltaStepIo {
  public:
    virtual ~DeltaStepIo() = default;
    // Next bytes of a block, in order. *got < count only at the block's end.
    virtual bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) = 0;
    // Bytes of the source file at position; *got < count where the file ends.
    virtual bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) = 0;
    // Bytes already written to the output, counted from its start; writing
    // afterwards continues at the output's end.
    virtual bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) = 0;
    virtual bool WriteOutput(const uint8_t* buffer, uint32_t count) = 0;
    // Called once per command, so a window can stay responsive.
    virtual void Pump() {}
};

struct DeltaStepOutcome {
    int result;          // kOk, kPatchDamaged or kDiskFull
    uint32_t outputCrc;  // CRC register over every written byte (starts at kCrcStart)
    uint32_t outputSize;
};

// Applies one variant's commands. outputSize only sets the packed-integer bound;
// the caller compares the final outcome with the record's NewSize and NewCrc.
DeltaStepOutcome ReconstructStep(const VariantHeader& variant, uint32_t outputSize,
                                 DeltaStepIo& io);

// The largest value a packed integer may need for a step: source size plus
// output size when copies reach into the output, else the larger of the two.
// Kept whole: cut to 32 bits, a file of 2 GiB or more would get one-byte
// integers and could never be addressed.
int64_t DeltaBound(const VariantHeader& variant, uint32_t outputSize);
