// The CRC value stored in patches: the CRC-32 register started at 0xFFFFFFFF
// with no final inversion, i.e. the complement of the standard CRC-32.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kCrcStart = 0xFFFFFFFFu;

uint32_t CrcOfBuffer(const void* buffer, size_t count, uint32_t reg);
