// The numbered messages, in code page 950, and their placeholder expansion.
#pragma once
#include <string>

// Template of message number (1..42); an empty text for any other number.
const char* MessageText(int number);
// Expands %n, %p, %m and %s with the current process texts.
std::string ExpandMessage(const char* templateText);
