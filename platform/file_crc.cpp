// CRC values over file contents, read in 1 KB pieces.
#include "core/crc.h"
#include "platform/file_primitives.h"

namespace {

constexpr uint32_t kCrcPieceSize = 1024;

}  // namespace

// A seek that fails or a file that ends early gives no value at all: a CRC
// over other bytes than asked for would pass for a mismatch of content.
bool CrcOfFileRange(HANDLE handle, uint32_t start, uint32_t end, uint32_t* reg) {
    if (start >= end) return true;
    if (SeekTo(handle, start) != start) return false;
    uint8_t buffer[kCrcPieceSize];
    uint32_t position = start;
    while (position < end) {
        uint32_t want = end - position < kCrcPieceSize ? end - position : kCrcPieceSize;
        uint32_t got = 0;
        if (!ReadSome(handle, buffer, want, &got) || got == 0) return false;
        *reg = CrcOfBuffer(buffer, got, *reg);
        position += got;
    }
    return true;
}

bool CrcOfFile(HANDLE handle, uint32_t skipOffset, uint32_t skipLength, uint32_t* crc) {
    const uint64_t size = FileSize(handle);
    // Sizes are 32-bit in a patch: a larger file is no version of any record.
    if (size > UINT32_MAX) return false;
    const uint32_t end = static_cast<uint32_t>(size);
    *crc = kCrcStart;
    if (skipLength == 0) return CrcOfFileRange(handle, 0, end, crc);
    if (!CrcOfFileRange(handle, 0, skipOffset < end ? skipOffset : end, crc)) return false;
    const uint64_t resume = static_cast<uint64_t>(skipOffset) + skipLength;
    if (resume >= end) return true;
    return CrcOfFileRange(handle, static_cast<uint32_t>(resume), end, crc);
}
