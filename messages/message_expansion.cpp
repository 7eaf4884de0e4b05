// Placeholder expansion of message templates.
#include <cstring>

#include "messages/catalogue.h"

namespace {

constexpr char kLineBreak = '\r';
const char* const kCurrentDirectoryText = "現在的目錄";

// "." and ".\" name the current directory; a leading ".\" adds nothing.
void AppendInsertion(const std::string& value, std::string* out) {
    if (value.empty()) return;
    if (value == "." || value == ".\\") {
        *out += kCurrentDirectoryText;
    } else if (value.size() > 2 && value.compare(0, 2, ".\\") == 0) {
        out->append(value, 2, std::string::npos);
    } else {
        *out += value;
    }
}

}  // namespace

std::string ExpandMessage(const char* templateText, const MessageTexts& texts) {
    std::string out;
    size_t length = std::strlen(templateText);
    for (size_t i = 0; i < length; ++i) {
        char c = templateText[i];
        if (c != '%') {
            out += c;
            continue;
        }
        char next = i + 1 < length ? templateText[i + 1] : '\0';
        switch (next) {
            case 'n':
                out += kLineBreak;
                break;
            case 'p':
                AppendInsertion(texts.patchPath, &out);
                break;
            case 'm':
                AppendInsertion(texts.fileName, &out);
                break;
            case 's':
                AppendInsertion(texts.targetDirectory, &out);
                break;
            default:
                // Not a placeholder: the '%' stands, the next character is read as usual.
                out += '%';
                continue;
        }
        ++i;
    }
    return out;
}
