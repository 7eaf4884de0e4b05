// CRC values over file contents, read in 1 KB pieces.
#include "core/crc.h"
#include "platform/file_primitives.h"

namespace {

constexpr uint32_t kCrcPieceSize = 1024;

}  // namespace

uint32_t CrcOfFileRange(HANDLE handle, uint32_t start, uint32_t end, uint32_t reg) {
    if (start >= end) return reg;
    SeekTo(handle, start);
    uint8_t buffer[kCrcPieceSize];
    uint32_t position = start;
    while (position < end) {
        uint32_t want = end - position < kCrcPieceSize ? end - position : kCrcPieceSize;
        uint32_t got = 0;
        // Only bytes that arrived count; a file that ends early ends the range.
        if (!ReadSome(handle, buffer, want, &got) || got == 0) break;
        reg = CrcOfBuffer(buffer, got, reg);
        position += got;
    }
    return reg;
}

uint32_t CrcOfFile(HANDLE handle, uint32_t skipOffset, uint32_t skipLength) {
    uint32_t size = FileSize(handle);
    if (skipLength == 0) return CrcOfFileRange(handle, 0, size, kCrcStart);
    uint32_t reg = CrcOfFileRange(handle, 0, skipOffset, kCrcStart);
    uint64_t resume = static_cast<uint64_t>(skipOffset) + skipLength;
    if (resume >= size) return reg;
    return CrcOfFileRange(handle, static_cast<uint32_t>(resume), size, reg);
}
