#include "engine/deferred_rename.h"

#include <windows.h>

#include "core/record_layout.h"
#include "engine/target_paths.h"
#include "platform/file_primitives.h"

namespace {

constexpr DWORD kNineXFamilyBit = 0x80000000u;
constexpr DWORD kPathBufferSize = 501;  // 500 characters and the terminator

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

// The 9x family carries out WININIT.INI before any long name is usable, and
// no current directory exists then: sources are absolute short names.
void QueueInWininit(const std::string& source, const std::string& destination) {
    std::string fullSource = source;
    if (IsRelative(source)) {
        std::string current;
        if (!CurrentDirectory(&current)) return;
        fullSource = current + "\\" + source;
    }
    std::string shortSource;
    // A source without a short form does not exist; an entry must never name another file.
    if (!ShortForm(fullSource, &shortSource)) return;
    std::string fullDestination = destination;
    if (IsRelative(destination)) {
        std::string current;
        std::string shortCurrent;
        if (!CurrentDirectory(&current) || !ShortForm(current, &shortCurrent)) return;
        fullDestination = shortCurrent + "\\" + destination;
    }
    WritePrivateProfileStringA("rename", fullDestination.c_str(), shortSource.c_str(),
                               "WININIT.INI");
}

}  // namespace

void QueueRename(const std::string& source, const std::string& destination) {
    if ((GetVersion() & kNineXFamilyBit) == 0) {
        MoveFileExA(source.c_str(), destination.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT);
    } else {
        QueueInWininit(source, destination);
    }
}

ResultCode DeferInUseFile(ApplyRun& run, int section, uint8_t kind) {
    const std::string destination = DestinationPath(run);
    const std::string backup = BackupPath(run);
    if (kind == kFileRecord || kind == kNewFileRecord) {
        const std::string staged = StagedPath(run, section);
        if (FileExists(staged)) {
            QueueRename(destination, backup);
            MakeParentDirectories(backup);
            QueueRename(staged, destination);
        }
    } else if (kind == kObsoleteRecord && PathNamesFile(destination)) {
        QueueRename(destination, backup);
        MakeParentDirectories(backup);
    }
    return kOk;
}
