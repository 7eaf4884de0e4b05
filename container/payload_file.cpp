// The payload file primitives: reads by position through one shared handle.
#include "container/payload_file.h"

#include <cstring>

#include "platform/file_primitives.h"

HANDLE gPayloadFile = 0;
uint32_t gRecordsStart = 0;
PatchHeader gPatchHeader = {};

namespace {

constexpr uint32_t kCopyPieceSize = 1024;

class PayloadByteSource : public ByteSource {
  public:
    bool Read(void* buffer, uint32_t count) override { return ReadPayload(buffer, count); }
    bool Seek(uint32_t position) override { return SeekPayload(position); }
    uint32_t Position() override { return PayloadPosition(); }
    uint32_t Size() override { return FileSize(gPayloadFile); }
};

}  // namespace

bool ReadPayload(void* buffer, uint32_t count) {
    if (count == 0) return true;
    return ReadBlock(gPayloadFile, buffer, count);
}

bool ReadPayloadString(std::string* out) {
    uint8_t length = 0;
    char text[256];
    if (!ReadPayload(&length, 1) || !ReadPayload(text, length)) return false;
    out->assign(text, strnlen(text, length));
    return true;
}

bool CopyPayloadToFile(int64_t count, HANDLE destination) {
    uint8_t buffer[kCopyPieceSize];
    while (count > 0) {
        uint32_t piece = count < kCopyPieceSize ? static_cast<uint32_t>(count) : kCopyPieceSize;
        if (!ReadPayload(buffer, piece) || !WriteBlock(destination, buffer, piece)) return false;
        count -= piece;
    }
    return true;
}

bool SeekPayload(uint32_t position) {
    if (gPayloadFile == 0) return false;
    return SeekTo(gPayloadFile, position) == position;
}

uint32_t PayloadPosition() { return CurrentPosition(gPayloadFile); }

void ClosePayloadFile() {
    CloseFile(gPayloadFile);
    gPayloadFile = 0;
}

ByteSource& PayloadSource() {
    static PayloadByteSource source;
    return source;
}
