#include "core/cp950.h"

extern const Cp950CaseRun kCp950CaseRuns[];
extern const size_t kCp950CaseRunCount;

uint16_t Cp950UpperCase(uint16_t character) {
    if (character >= 'a' && character <= 'z') return static_cast<uint16_t>(character - 'a' + 'A');
    if (character < 0x100) return character;
    for (size_t i = 0; i < kCp950CaseRunCount; ++i) {
        const Cp950CaseRun& run = kCp950CaseRuns[i];
        if (character >= run.lower && character - run.lower < run.count) {
            return static_cast<uint16_t>(run.upper + (character - run.lower));
        }
    }
    return character;
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
