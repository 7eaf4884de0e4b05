// Byte-level helpers for code page 950 text: a lead byte and its trail byte
// form one character that must never be split when a text is cut.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

bool IsCp950LeadByte(uint8_t byte);
// The largest length <= limit that does not end inside a double-byte character.
size_t Cp950CutLength(const char* text, size_t length, size_t limit);
// Position of the last '\\' or '/' that is a separator and not the trail byte
// of a character (0x5C is one), or std::string::npos.
size_t Cp950LastSeparator(const std::string& path);
