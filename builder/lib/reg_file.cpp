#include "builder/lib/reg_file.h"

#include <cctype>
#include <cstring>

#include "builder/lib/text_cp950.h"
#include "core/byte_order.h"
#include "core/record_layout.h"

namespace {

struct RootName {
    const char* longName;
    const char* shortName;
    uint32_t value;
};

constexpr RootName kRoots[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", 0x80000000u},   {"HKEY_CURRENT_USER", "HKCU", 0x80000001u},
    {"HKEY_LOCAL_MACHINE", "HKLM", 0x80000002u},  {"HKEY_USERS", "HKU", 0x80000003u},
    {"HKEY_CURRENT_CONFIG", "HKCC", 0x80000005u},
};

constexpr char kHeader4[] = "REGEDIT4";
constexpr char kHeader5[] = "Windows Registry Editor Version 5.00";

bool EqualsIgnoringCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string Trim(const std::string& s) {
    size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t\r");
    return s.substr(b, e - b + 1);
}

class Parser {
  public:
    Parser(const std::string& label, std::vector<RegKey>* keys, std::string* error)
        : label_(label), keys_(keys), error_(error) {}

    bool Run(const std::string& text);

  private:
    bool Fail(const std::string& what) {
        *error_ = label_ + ":" + std::to_string(line_) + ": " + what;
        return false;
    }

    bool ToCp950(const std::string& utf8, std::string* out) {
        size_t bad = 0;
        std::string what;
        if (Utf8ToCp950(utf8, out, &bad, &what)) return true;
        return Fail(what);
    }

    bool KeyLine(const std::string& line);
    bool ValueLine(const std::string& line);
    bool ReadQuoted(const std::string& line, size_t* at, std::string* out);
    bool ParseData(const std::string& text, RegValue* value);
    bool ParseHex(const std::string& text, Bytes* out);

    std::string label_;
    std::vector<RegKey>* keys_;
    std::string* error_;
    int line_ = 0;
    bool unicodeFile_ = false;
};

bool Parser::Run(const std::string& text) {
    size_t start = 0;
    bool sawHeader = false;
    std::string pending;  // a hex value continued with a trailing backslash
    int pendingLine = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = Trim(text.substr(start, end - start));
        ++line_;
        start = end + 1;
        if (!pending.empty()) {
            pending += line;
            if (!pending.empty() && pending.back() == '\\') {
                pending.pop_back();
                continue;
            }
            int here = line_;
            line_ = pendingLine;
            bool ok = ValueLine(pending);
            line_ = here;
            pending.clear();
            if (!ok) return false;
            continue;
        }
        if (line.empty() || line[0] == ';') continue;
        if (!sawHeader) {
            if (line == kHeader4) {
                unicodeFile_ = false;
            } else if (line == kHeader5) {
                unicodeFile_ = true;
            } else {
                return Fail("the first line must be \"REGEDIT4\" or \"" + std::string(kHeader5) +
                            "\"");
            }
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            if (!KeyLine(line)) return false;
        } else if (line.back() == '\\') {
            pending = line.substr(0, line.size() - 1);
            pendingLine = line_;
        } else if (!ValueLine(line)) {
            return false;
        }
    }
    if (!pending.empty()) return Fail("the file ends inside a continued value");
    if (!sawHeader) return Fail("the file is empty");
    return true;
}

bool Parser::KeyLine(const std::string& line) {
    if (line.back() != ']') return Fail("a key line must end with ']'");
    std::string full = line.substr(1, line.size() - 2);
    if (!full.empty() && full[0] == '-') return Fail("a patch cannot delete registry keys");
    RegKey key;
    std::string path;
    if (!SplitKeyPath(full, &key.rootKey, &path)) {
        return Fail("\"" + full +
                    "\" does not start with a registry root such as HKEY_LOCAL_MACHINE");
    }
    if (!ToCp950(path, &key.path)) return false;
    if (key.path.size() > kShortStringMax) return Fail("the key path is longer than 255 bytes");
    keys_->push_back(key);
    return true;
}

bool Parser::ReadQuoted(const std::string& line, size_t* at, std::string* out) {
    if (*at >= line.size() || line[*at] != '"') return Fail("a quoted text was expected");
    out->clear();
    for (size_t i = *at + 1; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\\' && i + 1 < line.size()) {
            out->push_back(line[++i]);
        } else if (c == '"') {
            *at = i + 1;
            return true;
        } else {
            out->push_back(c);
        }
    }
    return Fail("a quoted text is not closed");
}

bool Parser::ValueLine(const std::string& line) {
    if (keys_->empty()) return Fail("a value comes before any [key] line");
    RegValue value;
    size_t at = 0;
    std::string name;
    if (line[0] == '@') {
        at = 1;
    } else if (!ReadQuoted(line, &at, &name)) {
        return false;
    }
    if (!ToCp950(name, &value.name)) return false;
    if (value.name.size() > kShortStringMax) return Fail("the value name is longer than 255 bytes");
    std::string rest = Trim(line.substr(at));
    if (rest.empty() || rest[0] != '=') return Fail("'=' was expected after the value name");
    rest = Trim(rest.substr(1));
    if (rest == "-") return Fail("a patch cannot delete registry values");
    if (!ParseData(rest, &value)) return false;
    keys_->back().values.push_back(value);
    return true;
}

bool Parser::ParseHex(const std::string& text, Bytes* out) {
    out->clear();
    std::string digits;
    for (size_t i = 0; i <= text.size(); ++i) {
        char c = i < text.size() ? text[i] : ',';
        if (c == ' ' || c == '\t') continue;
        if (c != ',') {
            if (!std::isxdigit(static_cast<unsigned char>(c))) {
                return Fail("'" + std::string(1, c) + "' is not a hexadecimal digit");
            }
            digits.push_back(c);
            continue;
        }
        if (digits.empty()) {
            if (i == text.size()) break;
            return Fail("an empty byte in a hex list");
        }
        if (digits.size() > 2) return Fail("\"" + digits + "\" is more than one byte");
        out->push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
        digits.clear();
    }
    return true;
}

bool Parser::ParseData(const std::string& text, RegValue* value) {
    if (text[0] == '"') {
        size_t at = 0;
        std::string utf8, cp950;
        if (!ReadQuoted(text, &at, &utf8)) return false;
        if (!Trim(text.substr(at)).empty()) return Fail("text follows the closing quote");
        if (!ToCp950(utf8, &cp950)) return false;
        value->type = kRegSz;
        value->data.assign(cp950.begin(), cp950.end());
        value->data.push_back(0);  // string values keep their terminator
        return true;
    }
    if (text.compare(0, 6, "dword:") == 0) {
        std::string digits = Trim(text.substr(6));
        if (digits.empty() || digits.size() > 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
            return Fail("a dword needs one to eight hexadecimal digits");
        }
        value->type = kRegDword;
        value->data.resize(4);
        StoreLe32(value->data.data(), static_cast<uint32_t>(std::stoul(digits, nullptr, 16)));
        return true;
    }
    if (text.compare(0, 3, "hex") != 0) return Fail("unknown value data \"" + text + "\"");
    size_t colon = text.find(':');
    if (colon == std::string::npos) return Fail("':' was expected after \"hex\"");
    std::string kind = text.substr(3, colon - 3);
    value->type = kRegBinary;
    if (!kind.empty()) {
        if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
            kind.find_first_not_of("0123456789abcdefABCDEF", 1) != kind.size() - 1) {
            return Fail("\"hex" + kind + "\" is not a value type");
        }
        value->type =
            static_cast<uint32_t>(std::stoul(kind.substr(1, kind.size() - 2), nullptr, 16));
    }
    if (!ParseHex(text.substr(colon + 1), &value->data)) return false;
    // Version 5 files hold expandable and multi-strings as UTF-16; the applier
    // writes them with the ANSI call, so they become code page 950 bytes.
    if (unicodeFile_ && (value->type == kRegExpandSz || value->type == kRegMultiSz)) {
        if (value->data.size() % 2 != 0) {
            return Fail("hex(" + kind.substr(1, kind.size() - 2) + ") data holds " +
                        std::to_string(value->data.size()) +
                        " bytes, an odd number: UTF-16 text has two per character");
        }
        std::string utf8, cp950;
        if (!Utf16LeToUtf8(std::string(value->data.begin(), value->data.end()), &utf8)) {
            return Fail("the value is not UTF-16 text");
        }
        if (!ToCp950(utf8, &cp950)) return false;
        value->data.assign(cp950.begin(), cp950.end());
    }
    return true;
}

}  // namespace

uint32_t RootKeyFromName(const std::string& name) {
    for (const RootName& root : kRoots) {
        if (EqualsIgnoringCase(name, root.longName) || EqualsIgnoringCase(name, root.shortName)) {
            return root.value;
        }
    }
    return 0;
}

bool SplitKeyPath(const std::string& full, uint32_t* rootKey, std::string* path) {
    size_t slash = full.find('\\');
    *rootKey = RootKeyFromName(full.substr(0, slash));
    if (*rootKey == 0) return false;
    *path = slash == std::string::npos ? "" : full.substr(slash + 1);
    return true;
}

namespace {

bool IsAscii(const std::string& text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    }
    return true;
}

// Line by line, so that an error names the line.
bool Cp950FileToUtf8(const std::string& text, const std::string& label, std::string* utf8,
                     std::string* error) {
    utf8->clear();
    int line = 1;
    for (size_t start = 0; start <= text.size(); ++line) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string converted;
        if (!Cp950ToUtf8(text.substr(start, end - start), &converted)) {
            *error = label + ":" + std::to_string(line) + ": bytes that are not code page 950";
            return false;
        }
        utf8->append(converted);
        if (end < text.size()) utf8->push_back('\n');
        start = end + 1;
    }
    return true;
}

// The UTF-8 text of a file without a byte-order mark.
bool UnmarkedText(const std::string& bytes, const std::string& label, RegEncoding encoding,
                  std::string* text, std::string* error) {
    const bool regedit4 = bytes.compare(0, std::strlen(kHeader4), kHeader4) == 0;
    if (encoding == RegEncoding::kAuto) {
        if (!regedit4 || IsAscii(bytes)) {
            encoding = RegEncoding::kUtf8;
        } else {
            std::string ignored, where;
            const bool utf8 = IsValidUtf8(bytes);
            const bool cp950 = Cp950FileToUtf8(bytes, label, &ignored, &where);
            if (utf8 && cp950) {
                *error = label +
                         ": the file reads as UTF-8 and as code page 950 alike; say which "
                         "with --reg-encoding utf-8 or --reg-encoding cp950";
                return false;
            }
            if (!utf8 && !cp950) {
                *error = where.substr(0, where.rfind(':') + 2) +
                         "bytes that are neither UTF-8 nor code page 950";
                return false;
            }
            encoding = cp950 ? RegEncoding::kCp950 : RegEncoding::kUtf8;
        }
    }
    if (encoding == RegEncoding::kCp950) return Cp950FileToUtf8(bytes, label, text, error);
    *text = bytes;
    return true;
}

}  // namespace

bool ParseRegFile(const std::string& bytes, const std::string& label, std::vector<RegKey>* keys,
                  std::string* error, RegEncoding encoding) {
    keys->clear();
    std::string text;
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) {
        if (!Utf16LeToUtf8(bytes.substr(2), &text)) {
            *error = label + ": the file is not valid UTF-16";
            return false;
        }
    } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = bytes.substr(3);
    } else if (!UnmarkedText(bytes, label, encoding, &text, error)) {
        return false;
    }
    Parser parser(label, keys, error);
    return parser.Run(text);
}
