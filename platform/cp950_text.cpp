#include "platform/cp950_text.h"

namespace {

constexpr uint8_t kFirstLeadByte = 0x81;
constexpr uint8_t kLastLeadByte = 0xFE;

}  // namespace

bool IsCp950LeadByte(uint8_t byte) { return byte >= kFirstLeadByte && byte <= kLastLeadByte; }

size_t Cp950CutLength(const char* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    size_t i = 0;
    while (i < limit) {
        size_t width = IsCp950LeadByte(static_cast<uint8_t>(text[i])) ? 2 : 1;
        if (i + width > limit) break;
        i += width;
    }
    return i;
}

size_t Cp950LastSeparator(const std::string& path) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsCp950LeadByte(static_cast<uint8_t>(path[i]))) {
            ++i;
        } else if (path[i] == '\\' || path[i] == '/') {
            last = i;
        }
    }
    return last;
}
