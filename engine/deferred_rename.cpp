#include "engine/deferred_rename.h"

#include <windows.h>

#include <cstring>
#include <vector>

#include "core/cp950.h"
#include "core/record_layout.h"
#include "engine/file_commit.h"
#include "engine/target_paths.h"
#include "platform/directory_hold.h"
#include "platform/file_primitives.h"
#include "platform/path_probe.h"
#include "platform/scoped_key.h"
#include "platform/system_hooks.h"

namespace {

constexpr DWORD kPathBufferSize = 501;  // 500 characters and the terminator
constexpr char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValue[] = L"PendingFileRenameOperations";
constexpr char kWininit[] = "WININIT.INI";
constexpr char kRenameSection[] = "rename";
constexpr DWORD kWininitSectionSize = 32768;

bool IsRelative(const std::string& path) {
    return !(path.size() > 0 && path[0] == '\\') && !(path.size() > 1 && path[1] == ':');
}

bool CurrentDirectory(std::string* out) {
    char buffer[kPathBufferSize] = {};
    DWORD length = GetCurrentDirectoryA(kPathBufferSize, buffer);
    if (length == 0 || length >= kPathBufferSize) return false;
    *out = buffer;
    return true;
}

bool ShortForm(const std::string& path, std::string* out) {
    char buffer[kPathBufferSize] = {};
    DWORD length = GetShortPathNameA(path.c_str(), buffer, kPathBufferSize);
    if (length == 0 || length >= kPathBufferSize) return false;
    *out = buffer;
    return true;
}

// The WININIT.INI entry of one move: key destination, value source. The 9x
// family carries it out before any long name is usable, and no current
// directory exists then: sources are absolute short names.
bool WininitEntry(const std::string& source, const std::string& destination, std::string* key,
                  std::string* value) {
    std::string fullSource = source;
    if (IsRelative(source)) {
        std::string current;
        if (!CurrentDirectory(&current)) return false;
        fullSource = current + "\\" + source;
    }
    // A source without a short form does not exist; an entry must never name another file.
    if (!ShortForm(fullSource, value)) return false;
    *key = destination;
    if (IsRelative(destination)) {
        std::string current;
        std::string shortCurrent;
        if (!CurrentDirectory(&current) || !ShortForm(current, &shortCurrent)) return false;
        *key = shortCurrent + "\\" + destination;
    }
    return true;
}

// The NT list names files by full path, "\??\" before it, and a destination
// that may be replaced with a "!" in front.
std::wstring ListedPath(const wchar_t* entry) {
    std::wstring path = entry;
    if (!path.empty() && path[0] == L'!') path.erase(0, 1);
    if (path.compare(0, 4, L"\\??\\") == 0) path.erase(0, 4);
    return path;
}

std::wstring FullWidePath(const std::string& path) {
    wchar_t wide[MAX_PATH * 2] = {};
    if (MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH * 2) == 0) return L"";
    wchar_t full[MAX_PATH * 2] = {};
    DWORD length = GetFullPathNameW(wide, MAX_PATH * 2, full, nullptr);
    return length == 0 || length >= MAX_PATH * 2 ? std::wstring() : std::wstring(full, length);
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return !a.empty() && CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.c_str(), -1, b.c_str(),
                                        -1) == CSTR_EQUAL;
}

bool PathBelow(const std::wstring& path, const std::wstring& directory) {
    return !directory.empty() && path.size() > directory.size() &&
           path[directory.size()] == L'\\' && SamePath(path.substr(0, directory.size()), directory);
}

// The NT list as pairs of texts: source, destination ("" to delete).
std::vector<std::wstring> ReadPendingList(HKEY key) {
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return {};
    }
    std::wstring data(size / sizeof(wchar_t) + 2, L'\0');
    if (RegQueryValueExW(key, kPendingValue, nullptr, nullptr, reinterpret_cast<BYTE*>(&data[0]),
                         &size) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<std::wstring> texts;
    const size_t count = size / sizeof(wchar_t);
    for (size_t at = 0; at < count;) {
        std::wstring text(data.c_str() + at);
        at += text.size() + 1;
        texts.push_back(std::move(text));
    }
    // The list ends with an empty text of its own when its count of texts is odd.
    if (texts.size() % 2 == 1 && texts.back().empty()) texts.pop_back();
    return texts;
}

void WithdrawFromNtList(const ApplyRun& run) {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      key.out()) != ERROR_SUCCESS) {
        return;
    }
    std::vector<std::wstring> texts = ReadPendingList(key.get());
    std::vector<std::wstring> ours;  // source, destination of each of this run's moves
    for (const auto& [source, destination] : run.queuedRenames) {
        ours.push_back(FullWidePath(source));
        ours.push_back(FullWidePath(destination));
    }
    std::wstring kept;
    bool removed = false;
    for (size_t i = 0; i + 1 < texts.size(); i += 2) {
        const std::wstring source = ListedPath(texts[i].c_str());
        const std::wstring destination = ListedPath(texts[i + 1].c_str());
        bool mine = false;
        for (size_t n = 0; n < ours.size(); n += 2)
            mine = mine || (SamePath(ours[n], source) && SamePath(ours[n + 1], destination));
        if (mine) {
            removed = true;
            continue;
        }
        for (size_t k = i; k < i + 2; ++k) {
            kept += texts[k];
            kept.push_back(L'\0');
        }
    }
    if (!removed) return;
    if (kept.empty()) {
        RegDeleteValueW(key.get(), kPendingValue);
        return;
    }
    kept.push_back(L'\0');
    RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(kept.c_str()),
                   static_cast<DWORD>(kept.size() * sizeof(wchar_t)));
}

void WithdrawFromWininit(const ApplyRun& run) {
    for (const auto& [source, destination] : run.queuedRenames) {
        std::string key, value;
        if (WininitEntry(source, destination, &key, &value)) {
            WritePrivateProfileStringA(kRenameSection, key.c_str(), nullptr, kWininit);
        }
    }
}

bool Queue(ApplyRun& run, const std::string& source, const std::string& destination, bool replace) {
    if (!QueueRename(source, destination, replace)) return false;
    run.queuedRenames.emplace_back(source, destination);
    return true;
}

}  // namespace

bool QueueRename(const std::string& source, const std::string& destination, bool replace) {
    if (!IsNineXFamily()) {
        const DWORD flags = MOVEFILE_DELAY_UNTIL_REBOOT | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
        return MoveFileExA(source.c_str(), destination.c_str(), flags) != 0;
    }
    std::string key, value;
    return WininitEntry(source, destination, &key, &value) &&
           WritePrivateProfileStringA(kRenameSection, key.c_str(), value.c_str(), kWininit) != 0;
}

void WithdrawQueuedRenames(ApplyRun& run) {
    if (run.queuedRenames.empty()) return;
    if (IsNineXFamily()) {
        WithdrawFromWininit(run);
    } else {
        WithdrawFromNtList(run);
    }
    run.queuedRenames.clear();
}

bool RenamesPendingFrom(const std::string& directory) {
    if (IsNineXFamily()) {
        std::string shortDirectory;
        if (!ShortForm(directory, &shortDirectory)) return false;
        std::vector<char> section(kWininitSectionSize);
        const DWORD length = GetPrivateProfileSectionA(kRenameSection, section.data(),
                                                       kWininitSectionSize, kWininit);
        const std::string prefix = shortDirectory + "\\";
        for (const char* entry = section.data(); entry < section.data() + length && *entry;
             entry += strlen(entry) + 1) {
            const char* value = strchr(entry, '=');
            if (value && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, value + 1,
                                        static_cast<int>(prefix.size()), prefix.c_str(),
                                        static_cast<int>(prefix.size())) == CSTR_EQUAL) {
                return true;
            }
        }
        return false;
    }
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::wstring full = FullWidePath(directory);
    const std::vector<std::wstring> texts = ReadPendingList(key.get());
    for (size_t i = 0; i < texts.size(); i += 2) {
        if (PathBelow(ListedPath(texts[i].c_str()), full)) return true;
    }
    return false;
}

namespace {

bool StartsWithFolded(const std::string& text, const std::string& prefix) {
    return !prefix.empty() && text.size() >= prefix.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text.c_str(),
                          static_cast<int>(prefix.size()), prefix.c_str(),
                          static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

// WININIT.INI names a file by its long or its short path, either side of the "=".
bool WininitRenameInvolves(const std::string& directory) {
    std::vector<std::string> prefixes = {FullPathOf(directory) + "\\"};
    std::string shortDirectory;
    if (ShortForm(directory, &shortDirectory)) prefixes.push_back(shortDirectory + "\\");
    std::vector<char> section(kWininitSectionSize);
    const DWORD length =
        GetPrivateProfileSectionA(kRenameSection, section.data(), kWininitSectionSize, kWininit);
    for (const char* entry = section.data(); entry < section.data() + length && *entry;
         entry += strlen(entry) + 1) {
        const std::string text = entry;
        const size_t equals = text.find('=');
        const std::string sides[] = {text.substr(0, equals),
                                     equals == std::string::npos ? "" : text.substr(equals + 1)};
        for (const std::string& side : sides) {
            for (const std::string& prefix : prefixes) {
                if (StartsWithFolded(side, prefix)) return true;
            }
        }
    }
    return false;
}

bool NtRenameInvolves(const std::string& directory) {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    const std::wstring full = FullWidePath(directory);
    for (const std::wstring& text : ReadPendingList(key.get())) {
        const std::wstring path = ListedPath(text.c_str());
        if (SamePath(path, full) || PathBelow(path, full)) return true;
    }
    return false;
}

}  // namespace

bool RenamesPendingFor(const ApplyRun& run) {
    const SectionTables& tables = run.sections;
    for (int section = 0; section <= tables.lastSection && section < kMaxSections; ++section) {
        const std::string& target = tables.target[section];
        if (IsNineXFamily() ? WininitRenameInvolves(target) : NtRenameInvolves(target)) return true;
    }
    return false;
}

namespace {

// Windows carries the moves out at its next start, when nothing holds the
// directories: they are at least checked now, and the backup's directories
// made while their parents are held.
bool PathsClearForQueue(const ApplyRun& run, int section, const CurrentRecord& record) {
    DirectoryHold hold;
    return HoldRecordPaths(run, section, record, &hold) &&
           hold.Hold(run.sections.target[section],
                     JoinPath(run.sections.backupName[section], record.fileName), true);
}

// Windows' moves at its next start make no directory and remove none: the
// destination's directories are made now, and a file that is to take the
// place of a directory, or of a file on its way, cannot wait for the restart:
// the run fails and is undone (message 30: close the programs, apply again).
ResultCode MakePlaceForQueue(const ApplyRun& run, int section, const CurrentRecord& record) {
    const std::string destination = DestinationPath(run.sections, section, record);
    DirectoryHold hold;
    if (!hold.Hold(run.sections.target[section], record.fileName, true)) {
        return kInternalFileError;
    }
    const std::string parent = destination.substr(0, Cp950LastSeparator(destination));
    return IsDirectory(destination) || !IsDirectory(parent) ? kMoveFailed : kOk;
}

}  // namespace

// The move into the backup may replace an older backup there; the move into
// place never replaces anything, so a destination that did not reach the
// backup is never lost.
ResultCode DeferInUseFile(ApplyRun& run, int section, const CurrentRecord& record) {
    const std::string destination = DestinationPath(run.sections, section, record);
    const std::string backup = BackupPath(run.sections, section, record);
    bool queued = true;
    switch (record.kind) {
        case RecordKind::kFile:
        case RecordKind::kNewFile: {
            const std::string staged = StagedPath(run.sections, section, record);
            if (FileExists(staged)) {
                const ResultCode place = MakePlaceForQueue(run, section, record);
                if (place != kOk) return place;
                if (!PathsClearForQueue(run, section, record)) return kInternalFileError;
                if (PathNamesFile(destination)) queued = Queue(run, destination, backup, true);
                queued = queued && Queue(run, staged, destination, false);
            }
            break;
        }
        case RecordKind::kObsolete:
            if (PathNamesFile(destination)) {
                if (!PathsClearForQueue(run, section, record)) return kInternalFileError;
                queued = Queue(run, destination, backup, true);
            }
            break;
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            break;
    }
    return queued ? kOk : kFileInUse;
}
