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

// One text of the NT list, or a path to compare with one: not copied, as
// the list may hold thousands of entries.
struct WideText {
    const wchar_t* text = nullptr;
    int length = 0;
};

// The NT list as Windows stores it: texts, each ending in a zero, in pairs of
// source and destination ("" to delete).
struct PendingList {
    std::vector<wchar_t> data;  // with two more zeros after the list
    size_t count = 0;           // characters the registry returned
};

PendingList ReadPendingList(HKEY key) {
    PendingList list;
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key, kPendingValue, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return list;
    }
    list.data = std::vector<wchar_t>(size / sizeof(wchar_t) + 2);
    if (RegQueryValueExW(key, kPendingValue, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(list.data.data()), &size) == ERROR_SUCCESS) {
        list.count = size / sizeof(wchar_t);
    }
    return list;
}

// The text at *at; moves past it. False at the end of the list.
bool NextText(const PendingList& list, size_t* at, WideText* text) {
    if (*at >= list.count) return false;
    text->text = list.data.data() + *at;
    for (text->length = 0; text->text[text->length] != L'\0';) ++text->length;
    *at += text->length + 1;
    return true;
}

// The list names files by full path, "\??\" before it, and a destination
// that may be replaced with a "!" in front.
WideText ListedPath(WideText path) {
    if (path.length > 0 && path.text[0] == L'!') {
        ++path.text;
        --path.length;
    }
    const wchar_t* t = path.text;
    if (path.length >= 4 && t[0] == L'\\' && t[1] == L'?' && t[2] == L'?' && t[3] == L'\\') {
        path.text += 4;
        path.length -= 4;
    }
    return path;
}

constexpr int kWidePathSize = MAX_PATH * 2;

// Full paths in the form of the list, for comparing with its texts: each
// path that cannot be made full becomes an empty text, which matches nothing.
PendingList FullWidePaths(const std::string* paths, size_t count) {
    PendingList list;
    list.data = std::vector<wchar_t>(count * (kWidePathSize + 1) + 2);
    for (size_t n = 0; n < count; ++n) {
        wchar_t wide[kWidePathSize] = {};
        wchar_t* full = list.data.data() + list.count;
        DWORD length = 0;
        if (MultiByteToWideChar(CP_ACP, 0, paths[n].c_str(), -1, wide, kWidePathSize) != 0) {
            length = GetFullPathNameW(wide, kWidePathSize, full, nullptr);
        }
        if (length >= kWidePathSize) length = 0;
        full[length] = L'\0';
        list.count += length + 1;
    }
    return list;
}

bool SamePath(WideText a, WideText b) {
    return a.length > 0 && CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, a.text, a.length,
                                          b.text, b.length) == CSTR_EQUAL;
}

bool PathBelow(WideText path, WideText directory) {
    return directory.length > 0 && path.length > directory.length &&
           path.text[directory.length] == L'\\' &&
           SamePath({path.text, directory.length}, directory);
}

void WithdrawFromNtList(const ApplyRun& run) {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                      key.out()) != ERROR_SUCCESS) {
        return;
    }
    const PendingList list = ReadPendingList(key.get());
    // Source, destination of each of this run's moves.
    std::vector<std::string> moves;
    for (const auto& [source, destination] : run.queuedRenames) {
        moves.push_back(source);
        moves.push_back(destination);
    }
    const PendingList ours = FullWidePaths(moves.data(), moves.size());
    std::vector<wchar_t> kept(list.count + 2);  // zeros: each copied text ends in one
    size_t keptLength = 0;
    bool removed = false;
    size_t at = 0;
    WideText pair[2];
    while (NextText(list, &at, &pair[0]) && NextText(list, &at, &pair[1])) {
        bool mine = false;
        size_t ourAt = 0;
        WideText our[2];
        while (!mine && NextText(ours, &ourAt, &our[0]) && NextText(ours, &ourAt, &our[1])) {
            mine = SamePath(our[0], ListedPath(pair[0])) && SamePath(our[1], ListedPath(pair[1]));
        }
        if (mine) {
            removed = true;
            continue;
        }
        for (const WideText& text : pair) {
            std::memcpy(&kept[keptLength], text.text, text.length * sizeof(wchar_t));
            keptLength += text.length + 1;
        }
    }
    if (!removed) return;
    if (keptLength == 0) {
        RegDeleteValueW(key.get(), kPendingValue);
        return;
    }
    RegSetValueExW(key.get(), kPendingValue, 0, REG_MULTI_SZ,
                   reinterpret_cast<const BYTE*>(kept.data()),
                   static_cast<DWORD>((keptLength + 1) * sizeof(wchar_t)));
}

// Whether a text of the NT list names a path below `directory` (or, with
// `orItself`, the directory itself); with `sourcesOnly`, a move's source.
bool NtListNames(const std::string& directory, bool sourcesOnly, bool orItself) {
    ScopedKey key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_QUERY_VALUE, key.out()) !=
        ERROR_SUCCESS) {
        return false;
    }
    WideText full;
    size_t fullAt = 0;
    const PendingList fullPath = FullWidePaths(&directory, 1);
    NextText(fullPath, &fullAt, &full);
    const PendingList list = ReadPendingList(key.get());
    size_t at = 0;
    WideText text;
    for (bool source = true; NextText(list, &at, &text); source = !source) {
        if (sourcesOnly && !source) continue;
        const WideText path = ListedPath(text);
        if ((orItself && SamePath(path, full)) || PathBelow(path, full)) return true;
    }
    return false;
}

bool StartsWithFolded(const char* text, size_t length, const std::string& prefix) {
    return !prefix.empty() && length >= prefix.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, text, static_cast<int>(prefix.size()),
                          prefix.c_str(), static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

// Whether a move in WININIT.INI ("destination=source") names a path below
// `directory`, by its long or its short path; with `sourcesOnly`, a move's
// source only.
bool WininitListNames(const std::string& directory, bool sourcesOnly) {
    // Entries hold absolute names: a relative target ("." from an empty
    // path box) is compared by its full path and that path's short form.
    const std::string full = FullPathOf(directory);
    std::string shortDirectory;
    const std::string prefixes[] = {
        JoinPath(full, ""), ShortForm(full, &shortDirectory) ? JoinPath(shortDirectory, "") : ""};
    std::vector<char> section(kWininitSectionSize);
    const DWORD length =
        GetPrivateProfileSectionA(kRenameSection, section.data(), kWininitSectionSize, kWininit);
    for (const char* entry = section.data(); entry < section.data() + length && *entry;
         entry += strlen(entry) + 1) {
        const char* equals = strchr(entry, '=');
        const size_t keyLength = equals ? static_cast<size_t>(equals - entry) : strlen(entry);
        const char* value = equals ? equals + 1 : "";
        for (const std::string& prefix : prefixes) {
            if ((!sourcesOnly && StartsWithFolded(entry, keyLength, prefix)) ||
                StartsWithFolded(value, strlen(value), prefix)) {
                return true;
            }
        }
    }
    return false;
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
    return IsNineXFamily() ? WininitListNames(directory, true)
                           : NtListNames(directory, true, false);
}

bool RenamesPendingFor(const ApplyRun& run) {
    const SectionTables& tables = run.sections;
    for (int section = 0; section <= tables.lastSection && section < kMaxSections; ++section) {
        const std::string& target = tables.target[section];
        if (IsNineXFamily() ? WininitListNames(target, false) : NtListNames(target, false, true))
            return true;
    }
    return false;
}

namespace {

// Windows carries the moves out at its next start, when nothing holds the
// directories: they are at least checked now, and the directories of the
// backup and of the destination made while their parents are held, since
// those moves make no directory.
bool PathsClearForQueue(const ApplyRun& run, int section, const CurrentRecord& record) {
    DirectoryHold hold;
    const std::string& target = run.sections.target[section];
    return HoldRecordPaths(run, section, record, &hold) &&
           hold.Hold(target, JoinPath(run.sections.backupName[section], record.fileName), true) &&
           hold.Hold(target, record.fileName, true);
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
                if (!PathsClearForQueue(run, section, record)) return kInternalFileError;
                // Those moves remove no directory either: a file that is to
                // take the place of a directory, or of a file on its way,
                // cannot wait for the restart. The run fails and is undone
                // (message 30: close the programs, apply again).
                const std::string parent = destination.substr(0, Cp950LastSeparator(destination));
                if (IsDirectory(destination) || !IsDirectory(parent)) return kMoveFailed;
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
