#include "core/byte_source.h"

#include <cstring>

bool ReadShortString(ByteSource& source, std::string* out) {
    uint8_t length = 0;
    char text[256];
    if (!source.Read(&length, 1) || !source.Read(text, length)) return false;
    out->assign(text, strnlen(text, length));
    return true;
}

bool SkipBytes(ByteSource& source, uint64_t count) {
    uint64_t target = static_cast<uint64_t>(source.Position()) + count;
    if (target > source.Size()) return false;
    return source.Seek(static_cast<uint32_t>(target));
}

bool MemoryByteSource::Read(void* buffer, uint32_t count) {
    if (count > size_ - position_) return false;
    if (count > 0) std::memcpy(buffer, data_ + position_, count);
    position_ += count;
    return true;
}

bool MemoryByteSource::Seek(uint32_t position) {
    if (position > size_) return false;
    position_ = position;
    return true;
}
