// The numbered messages, in code page 950, and their placeholder expansion.
#pragma once
#include <string>

#include "core/result_codes.h"

// Template of message number (1..42); an empty text for any other number.
const char* MessageText(int number);
inline const char* MessageText(MessageId id) { return MessageText(static_cast<int>(id)); }

// What the placeholders show: %p, %m and %s.
struct MessageTexts {
    std::string patchPath;        // full path of the running executable
    std::string fileName;         // file of the record just read
    std::string targetDirectory;  // directory of the section being processed
};

// Expands %n, %p, %m and %s.
std::string ExpandMessage(const char* templateText, const MessageTexts& texts);
