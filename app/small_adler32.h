// Adler-32 in its plainest form, for the applier (crt_hooks.cpp), whose raw
// deflate payload never asks zlib for it.
#pragma once
#include <cstddef>
#include <cstdint>

// zlib's adler32(): a null buffer gives the initial value 1.
inline uint32_t SmallAdler32(uint32_t adler, const unsigned char* data, size_t length) {
    constexpr uint32_t kModulus = 65521;
    if (data == nullptr) return 1;
    uint32_t a = adler & 0xffff;
    uint32_t b = adler >> 16;
    for (; length != 0; --length) {
        a = (a + *data++) % kModulus;
        b = (b + a) % kModulus;
    }
    return b << 16 | a;
}
