#include "builder/lib/text_cp950.h"

#include <cstdio>

#include "core/cp950.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <iconv.h>
#endif

namespace {

#ifndef _WIN32
// One character from one encoding to another through iconv; false when the
// bytes are not a whole character of the source or have no target form.
bool ConvertOneChar(const char* to, const char* from, const std::string& in, std::string* out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    char input[8], output[8];
    if (in.size() > sizeof input) return false;
    size_t inLeft = in.size(), outLeft = sizeof output;
    in.copy(input, inLeft);
    char* inPtr = input;
    char* outPtr = output;
    size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    iconv_close(cd);
    if (result == static_cast<size_t>(-1) || inLeft != 0) return false;
    out->append(output, sizeof output - outLeft);
    return true;
}
#endif

constexpr unsigned kCodePage950 = 950;

// Decodes one UTF-8 character at text[*i]; false when malformed.
bool NextCodePoint(const std::string& text, size_t* i, uint32_t* cp) {
    const auto byte = [&](size_t k) { return static_cast<uint8_t>(text[k]); };
    uint8_t lead = byte(*i);
    int extra = lead < 0x80           ? 0
                : (lead >> 5) == 0x6  ? 1
                : (lead >> 4) == 0xE  ? 2
                : (lead >> 3) == 0x1E ? 3
                                      : -1;
    if (extra < 0 || *i + static_cast<size_t>(extra) >= text.size()) return false;
    static const uint8_t kLeadMask[] = {0x7F, 0x1F, 0x0F, 0x07};
    uint32_t value = lead & kLeadMask[extra];
    for (int k = 1; k <= extra; ++k) {
        uint8_t b = byte(*i + k);
        if ((b & 0xC0) != 0x80) return false;
        value = (value << 6) | (b & 0x3F);
    }
    static const uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (value < kMinimum[extra] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return false;
    }
    *cp = value;
    *i += extra + 1;
    return true;
}

// One character to code page 950, exactly (no best-fit substitutes).
bool ConvertCodePoint(uint32_t cp, const std::string& utf8Char, std::string* out) {
    if (cp < 0x80) {
        out->push_back(static_cast<char>(cp));
        return true;
    }
#ifdef _WIN32
    wchar_t wide[2];
    int wideLength = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, utf8Char.data(),
                                         static_cast<int>(utf8Char.size()), wide, 2);
    if (wideLength <= 0) return false;
    char bytes[8];
    BOOL usedDefault = FALSE;
    int n = WideCharToMultiByte(kCodePage950, WC_NO_BEST_FIT_CHARS, wide, wideLength, bytes,
                                sizeof bytes, nullptr, &usedDefault);
    if (n <= 0 || usedDefault) return false;
    out->append(bytes, static_cast<size_t>(n));
    return true;
#else
    (void)kCodePage950;
    return ConvertOneChar("CP950", "UTF-8", utf8Char, out);
#endif
}

// One code page 950 character (one or two bytes) to UTF-8; false when the
// bytes are not a character of the code page.
bool DecodeCp950Char(const std::string& bytes, std::string* out) {
#ifdef _WIN32
    wchar_t wide[2];
    int n = MultiByteToWideChar(kCodePage950, MB_ERR_INVALID_CHARS, bytes.data(),
                                static_cast<int>(bytes.size()), wide, 2);
    if (n <= 0) return false;
    char utf8[8];
    int m = WideCharToMultiByte(CP_UTF8, 0, wide, n, utf8, sizeof utf8, nullptr, nullptr);
    if (m <= 0) return false;
    out->append(utf8, static_cast<size_t>(m));
    return true;
#else
    return ConvertOneChar("UTF-8", "CP950", bytes, out);
#endif
}

std::string Describe(uint32_t cp) {
    char text[32];
    std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(cp));
    return text;
}

}  // namespace

bool Utf8ToCp950(const std::string& utf8, std::string* out, size_t* badOffset, std::string* what) {
    out->clear();
    size_t i = 0;
    while (i < utf8.size()) {
        size_t start = i;
        uint32_t cp = 0;
        if (!NextCodePoint(utf8, &i, &cp)) {
            *badOffset = start;
            *what = "bytes that are not UTF-8";
            return false;
        }
        if (!ConvertCodePoint(cp, utf8.substr(start, i - start), out)) {
            *badOffset = start;
            *what = "character " + Describe(cp) + " \"" + utf8.substr(start, i - start) +
                    "\", which code page 950 cannot hold";
            return false;
        }
    }
    return true;
}

bool ConvertTextFile(const std::string& utf8, const std::string& label, std::string* out,
                     std::string* error) {
    std::string text = utf8;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
    out->clear();
    size_t lineStart = 0;
    int line = 1;
    while (lineStart <= text.size()) {
        size_t end = text.find('\n', lineStart);
        bool last = end == std::string::npos;
        if (last) end = text.size();
        std::string body = text.substr(lineStart, end - lineStart);
        if (!body.empty() && body.back() == '\r') body.pop_back();
        if (last && body.empty() && line > 1) break;  // the final line end
        std::string converted, what;
        size_t bad = 0;
        if (!Utf8ToCp950(body, &converted, &bad, &what)) {
            *error = label + ":" + std::to_string(line) + ": " + what;
            return false;
        }
        if (line > 1) out->push_back('\0');
        out->append(converted);
        if (last) break;
        lineStart = end + 1;
        ++line;
    }
    return true;
}

bool Cp950ToUtf8(const std::string& cp950, std::string* utf8) {
    utf8->clear();
    bool exact = true;
    for (size_t i = 0; i < cp950.size();) {
        uint8_t lead = static_cast<uint8_t>(cp950[i]);
        size_t length = lead >= 0x81 && lead <= 0xFE && i + 1 < cp950.size() ? 2 : 1;
        if (lead < 0x80) {
            utf8->push_back(static_cast<char>(lead));
        } else if (!DecodeCp950Char(cp950.substr(i, length), utf8)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", lead);
            utf8->append(escaped);
            exact = false;
            length = 1;
        }
        i += length;
    }
    return exact;
}

bool IsValidUtf8(const std::string& text) {
    uint32_t cp = 0;
    for (size_t i = 0; i < text.size();) {
        if (!NextCodePoint(text, &i, &cp)) return false;
    }
    return true;
}

bool HasSeparatorTrailByte(const std::string& cp950) {
    for (size_t i = 0; i < cp950.size(); ++i) {
        if (IsCp950LeadByte(static_cast<unsigned char>(cp950[i])) && i + 1 < cp950.size()) {
            uint8_t trail = static_cast<uint8_t>(cp950[++i]);
            if (trail == '\\' || trail == '/') return true;
        }
    }
    return false;
}

bool Utf16LeToUtf8(const std::string& utf16, std::string* out) {
    out->clear();
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        uint32_t unit = static_cast<uint8_t>(utf16[i]) | (static_cast<uint8_t>(utf16[i + 1]) << 8);
        uint32_t cp = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 3 >= utf16.size()) return false;
            uint32_t low =
                static_cast<uint8_t>(utf16[i + 2]) | (static_cast<uint8_t>(utf16[i + 3]) << 8);
            if (low < 0xDC00 || low > 0xDFFF) return false;
            cp = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        }
        if (cp < 0x80) {
            out->push_back(static_cast<char>(cp));
        } else if (cp < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
        }
    }
    return true;
}
