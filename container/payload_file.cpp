// The payload file primitives: reads by position through one handle.
#include "container/payload_file.h"

#include "platform/file_primitives.h"

namespace {

constexpr uint32_t kCopyPieceSize = 1024;

}  // namespace

void PayloadFile::Reset(HANDLE handle) {
    CloseFile(handle_);
    handle_ = handle;
}

bool PayloadFile::Read(void* buffer, uint32_t count) {
    if (count == 0) return true;
    return ReadBlock(handle_, buffer, count);
}

bool PayloadFile::CopyToFile(int64_t count, HANDLE destination) {
    uint8_t buffer[kCopyPieceSize];
    while (count > 0) {
        uint32_t piece = count < kCopyPieceSize ? static_cast<uint32_t>(count) : kCopyPieceSize;
        if (!Read(buffer, piece) || !WriteBlock(destination, buffer, piece)) return false;
        count -= piece;
    }
    return true;
}

bool PayloadFile::Seek(uint32_t position) {
    if (handle_ == 0) return false;
    return SeekTo(handle_, position) == position;
}

uint32_t PayloadFile::Position() { return CurrentPosition(handle_); }

uint32_t PayloadFile::Size() { return FileSize(handle_); }
