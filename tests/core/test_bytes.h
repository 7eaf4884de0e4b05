// Byte helpers shared by the core tests.
#pragma once
#include <cstdint>
#include <cstring>
#include <random>

#include "builder/lib/payload_writer.h"

inline Bytes BytesOf(const char* text) { return Bytes(text, text + std::strlen(text)); }

inline Bytes RandomBytes(uint32_t seed, size_t count, int alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes out(count);
    for (auto& b : out) b = static_cast<uint8_t>(rng() % alphabet);
    return out;
}
