// Code page 950 (Traditional Chinese) byte classes: the one place that says
// which bytes begin a double-byte character and which may follow.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

inline bool IsCp950LeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

inline bool IsCp950TrailByte(unsigned char c) {
    return (c >= 0x40 && c <= 0x7E) || (c >= 0xA1 && c <= 0xFE);
}

// True when text[at] and text[at + 1] form one double-byte character.
inline bool IsCp950DoubleByteAt(const std::string& text, size_t at) {
    return at + 1 < text.size() && IsCp950LeadByte(static_cast<unsigned char>(text[at])) &&
           IsCp950TrailByte(static_cast<unsigned char>(text[at + 1]));
}

// Length in bytes (1 or 2) of the character at text[at].
inline size_t Cp950CharLength(const std::string& text, size_t at) {
    return IsCp950DoubleByteAt(text, at) ? 2 : 1;
}

// The largest length <= limit that does not end inside a double-byte
// character (a lead byte takes the byte after it, whatever it is).
size_t Cp950CutLength(const char* text, size_t length, size_t limit);

// Position of the last '\\' or '/' that is a separator and not the second
// byte of a character (0x5C can be one), or std::string::npos.
size_t Cp950LastSeparator(const std::string& path);

// A character as a number: a single byte, or lead * 256 + trail. Characters
// lower .. lower + count - 1 have the uppercase partners upper .. upper + count - 1.
struct Cp950CaseRun {
    uint16_t lower;
    uint16_t upper;
    uint16_t count;
};

// The uppercase partner of a character as Windows file systems fold names
// (ASCII letters and every double-byte pair code page 950 holds); other
// characters are returned unchanged.
uint16_t Cp950UpperCase(uint16_t character);
