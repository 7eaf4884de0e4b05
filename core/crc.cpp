#include "core/crc.h"

#include <zlib.h>

// zlib's crc32 takes and returns the inverted register, so complement around it.
uint32_t CrcOfBuffer(const void* buffer, size_t count, uint32_t reg) {
    uLong value = ~reg;
    const Bytef* p = static_cast<const Bytef*>(buffer);
    while (count > 0) {
        uInt piece = count > 0x40000000u ? 0x40000000u : static_cast<uInt>(count);
        value = crc32(value, p, piece);
        p += piece;
        count -= piece;
    }
    return ~static_cast<uint32_t>(value);
}

