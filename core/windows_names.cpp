#include "core/windows_names.h"

#include <algorithm>
#include <cstring>

#include "core/cp950.h"
#include "core/work_names.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool EqualsIgnoringAsciiCase(const std::string& text, const char* word) {
    if (text.size() != std::strlen(word)) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (AsciiUpper(text[i]) != word[i]) return false;
    }
    return true;
}

// Windows hands a name to a device when the part before the first dot, with
// trailing blanks removed, is a device name, whatever the extension. COM0 and
// LPT0 are no devices; CLOCK$ was one on older systems.
bool IsDeviceName(const std::string& component) {
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    static const char* const kDevices[] = {"CON",    "PRN",     "AUX",   "NUL",
                                           "CONIN$", "CONOUT$", "CLOCK$"};
    for (const char* device : kDevices) {
        if (EqualsIgnoringAsciiCase(base, device)) return true;
    }
    if (base.size() == 4 && base[3] >= '1' && base[3] <= '9') {
        std::string stem = base.substr(0, 3);
        return EqualsIgnoringAsciiCase(stem, "COM") || EqualsIgnoringAsciiCase(stem, "LPT");
    }
    return false;
}

NameProblem CheckComponent(const std::string& c) {
    if (c.empty()) return NameProblem::kEmptyComponent;
    if (c.find_first_not_of(". ") == std::string::npos) return NameProblem::kDotComponent;
    for (size_t i = 0; i < c.size(); i += Cp950CharLength(c, i)) {
        unsigned char b = static_cast<unsigned char>(c[i]);
        if (IsCp950DoubleByteAt(c, i)) continue;
        if (b < 0x20) return NameProblem::kControlCharacter;
        if (b >= 0x80) return NameProblem::kBrokenCharacter;
        if (std::strchr("<>:\"|?*", b) != nullptr) return NameProblem::kReservedCharacter;
    }
    // A trailing blank or dot is one byte of its own: no trail byte is 0x20 or 0x2E.
    if (c.back() == '.' || c.back() == ' ') return NameProblem::kTrailingDotOrBlank;
    if (IsDeviceName(c)) return NameProblem::kDeviceName;
    return NameProblem::kNone;
}

// The staging directories are PATCH<n>.TMP in the target, and the chained
// rebuild writes BINTMP1.TMP and BINTMP2.TMP among the staged files.
bool IsWorkName(const std::string& component) {
    std::string key = WindowsNameKey(component);
    if (key == kIntermediateNames[0] || key == kIntermediateNames[1]) return true;
    const size_t prefix = sizeof kStagingPrefix - 1, suffix = sizeof kStagingSuffix - 1;
    if (key.size() <= prefix + suffix || key.compare(0, prefix, kStagingPrefix) != 0 ||
        key.compare(key.size() - suffix, suffix, kStagingSuffix) != 0) {
        return false;
    }
    for (size_t i = prefix; i < key.size() - suffix; ++i) {
        if (key[i] < '0' || key[i] > '9') return false;
    }
    return true;
}

}  // namespace

std::vector<std::string> SplitWindowsPath(const std::string& path) {
    std::vector<std::string> components(1);
    for (size_t i = 0; i < path.size();) {
        size_t length = Cp950CharLength(path, i);
        if (length == 1 && IsSeparator(path[i])) {
            components.push_back(std::string());
        } else {
            components.back().append(path, i, length);
        }
        i += length;
    }
    return components;
}

std::vector<std::string> ParentDirectories(const std::string& path) {
    const std::vector<std::string> parts = SplitWindowsPath(path);
    std::vector<std::string> parents;
    std::string prefix;
    for (size_t n = 0; n + 1 < parts.size(); ++n) {
        prefix += (n ? "\\" : "") + parts[n];
        parents.push_back(prefix);
    }
    return std::vector<std::string>(parents.rbegin(), parents.rend());
}

NameProblem CheckWindowsPath(const std::string& path) {
    for (const std::string& component : SplitWindowsPath(path)) {
        NameProblem problem = CheckComponent(component);
        if (problem != NameProblem::kNone) return problem;
    }
    return NameProblem::kNone;
}

NameProblem CheckPatchPath(const std::string& path) {
    NameProblem problem = CheckWindowsPath(path);
    if (problem != NameProblem::kNone) return problem;
    return IsWorkName(SplitWindowsPath(path).front()) ? NameProblem::kWorkName : NameProblem::kNone;
}

std::string WindowsNameKey(const std::string& path) {
    std::string key;
    std::vector<std::string> components = SplitWindowsPath(path);
    for (size_t n = 0; n < components.size(); ++n) {
        const std::string& component = components[n];
        if (n > 0) key += '\\';
        size_t end = component.find_last_not_of(". ");
        end = end == std::string::npos ? 0 : end + 1;
        for (size_t i = 0; i < end; i += Cp950CharLength(component, i)) {
            bool doubleByte = IsCp950DoubleByteAt(component, i);
            uint16_t c = static_cast<unsigned char>(component[i]);
            if (doubleByte)
                c = static_cast<uint16_t>(c << 8 | static_cast<unsigned char>(component[i + 1]));
            uint16_t upper = Cp950UpperCase(c);
            if (doubleByte) key += static_cast<char>(upper >> 8);
            key += static_cast<char>(upper & 0xFF);
            // A lone lead byte before a separator must not read as one
            // character with a '\' second byte; no name holds a NUL.
            if (!doubleByte && upper >= 0x80) key += '\0';
        }
    }
    return key;
}

bool PathsOverlap(const std::string& a, const std::string& b) {
    std::vector<std::string> ka = SplitWindowsPath(WindowsNameKey(a));
    std::vector<std::string> kb = SplitWindowsPath(WindowsNameKey(b));
    size_t common = std::min(ka.size(), kb.size());
    for (size_t i = 0; i < common; ++i) {
        if (ka[i] != kb[i]) return false;
    }
    return true;
}

NameProblem CheckBackupName(const std::string& backup, const std::vector<std::string>& paths,
                            std::string* clash) {
    clash->clear();
    NameProblem problem = CheckPatchPath(backup);
    if (problem != NameProblem::kNone) return problem;
    for (const std::string& path : paths) {
        if (PathsOverlap(backup, path)) {
            *clash = path;
            return NameProblem::kOverlapsTreePath;
        }
    }
    return NameProblem::kNone;
}
