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
