#include "core/cp950.h"

#include <algorithm>

extern const Cp950CasePair kCp950CasePairs[];
extern const size_t kCp950CasePairCount;

uint16_t Cp950UpperCase(uint16_t character) {
    if (character >= 'a' && character <= 'z') return static_cast<uint16_t>(character - 'a' + 'A');
    if (character < 0x100) return character;
    const Cp950CasePair* end = kCp950CasePairs + kCp950CasePairCount;
    const Cp950CasePair* found =
        std::lower_bound(kCp950CasePairs, end, character,
                         [](const Cp950CasePair& p, uint16_t c) { return p.lower < c; });
    return found != end && found->lower == character ? found->upper : character;
}

size_t Cp950CutLength(const char* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    size_t i = 0;
    while (i < limit) {
        size_t width = IsCp950LeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + width > limit) break;
        i += width;
    }
    return i;
}

size_t Cp950LastSeparator(const std::string& path) {
    size_t last = std::string::npos;
    for (size_t i = 0; i < path.size(); ++i) {
        if (IsCp950LeadByte(static_cast<unsigned char>(path[i]))) {
            ++i;
        } else if (path[i] == '\\' || path[i] == '/') {
            last = i;
        }
    }
    return last;
}
