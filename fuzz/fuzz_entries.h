// Entry points shared by the libFuzzer targets and the bounded smoke test:
// each takes arbitrary bytes, runs them through the reader or the decoder and
// checks what must hold for any input. A broken invariant aborts.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The bytes are a record stream; records are read until the end record or a
// failure.
void FuzzRecordReader(const uint8_t* data, size_t size);

// The bytes are: a 32-byte variant header, a u32 output size, a u16 source
// length, the source, then the five blocks (each cut to what is left).
void FuzzDeltaDecoder(const uint8_t* data, size_t size);

// Lays out a decoder input in the form FuzzDeltaDecoder reads.
std::vector<uint8_t> DecoderFuzzInput(const uint8_t header[32], uint32_t outputSize,
                                      const std::vector<uint8_t>& source,
                                      const std::vector<uint8_t>* blocks);
