#include "engine/target_location.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include "core/record_layout.h"
#include "core/record_reader.h"
#include "engine/target_paths.h"
#include "core/cp950.h"
#include "platform/file_primitives.h"
#include "platform/scoped_key.h"

namespace {

constexpr DWORD kDirectoryBufferSize = 1024;

ResultCode ReadRegistryLocation(RecordWalk& walk, const LocationRecord& location) {
    ScopedKey key;
    if (RegOpenKeyExA(RootKeyHandle(location.rootKey), location.keyPath.c_str(), 0, KEY_READ,
                      key.out()) != ERROR_SUCCESS) {
        return kTargetNotRegistered;
    }
    // One spare byte keeps a value that fills the buffer terminated.
    char data[kDirectoryBufferSize + 1] = {};
    DWORD size = kDirectoryBufferSize;
    if (RegQueryValueExA(key.get(), location.valueName.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        data[0] == '\0') {
        return kTargetNotRegistered;
    }
    walk.targetDirectory = data;
    CutToDirectory(&walk.targetDirectory);
    return kOk;
}

ResultCode UseSystemDirectory(RecordWalk& walk, UINT(WINAPI* query)(LPSTR, UINT)) {
    char data[kDirectoryBufferSize] = {};
    UINT length = query(data, kDirectoryBufferSize);
    // Without a directory every path would start at the root of the drive.
    if (length == 0 || length >= kDirectoryBufferSize) return kTargetNotRegistered;
    walk.targetDirectory = data;
    return kOk;
}

ResultCode ResolveLocation(RecordWalk& walk, const LocationRecord& location) {
    switch (location.kind) {
        case kUserPath: {
            // An emptied path box means the current directory, as when nothing was given.
            const std::string requested = walk.host.RequestedTargetPath();
            walk.targetDirectory = requested.empty() ? "." : requested;
            CutToDirectory(&walk.targetDirectory);
            return kOk;
        }
        case kRegistryValue:
            return ReadRegistryLocation(walk, location);
        case kWindowsDirectory:
            return UseSystemDirectory(walk, GetWindowsDirectoryA);
        case kSystemDirectory:
            return UseSystemDirectory(walk, GetSystemDirectoryA);
        default:
            return kOk;  // an unknown kind keeps the directory in force
    }
}

// Passes over a section body (BackupName, records, EndRecord) to reach the
// LocationRecord of the next section.
ResultCode SkipSectionBody(PayloadFile& payload) {
    CurrentRecord scratch;
    std::string backupName;
    if (!payload.ReadString(&backupName)) return kPatchDamaged;
    for (;;) {
        const ReadRecordStatus status = ReadRecord(payload, &scratch);
        // A name Windows would resolve otherwise is refused as in the last section.
        if (status == ReadRecordStatus::kUnsafeName) return kInternalFileError;
        if (status != ReadRecordStatus::kOk) return kPatchDamaged;
        if (scratch.kind == RecordKind::kEnd) return kOk;
    }
}

}  // namespace

void CutToDirectory(std::string* directory) {
    if (!FileExists(*directory)) return;
    // A separator is a '\\' or '/' of its own, never the second byte of a
    // double-byte character, which would cut the name in two.
    size_t lastSeparator = Cp950LastSeparator(*directory);
    if (lastSeparator == std::string::npos) {
        *directory = ".";
    } else {
        directory->resize(lastSeparator + 1);
    }
}

ResultCode LocateTarget(RecordWalk& walk, uint32_t recordsStart) {
    SectionTables& sections = walk.sections;
    // Every run stages into a directory of its own, made at its first walk.
    for (std::string& staging : sections.staging) staging.clear();
    if (!walk.payload.Seek(recordsStart)) return kPatchDamaged;
    for (int section = 0;; ++section) {
        if (section >= kMaxSections) return kPatchDamaged;
        LocationRecord location;
        if (!ReadLocationRecord(walk.payload, &location)) return kPatchDamaged;
        // The section body begins behind the location record.
        sections.sectionStart[section] = walk.payload.Position();
        ResultCode result = ResolveLocation(walk, location);
        if (result != kOk) return result;
        sections.target[section] = walk.targetDirectory;
        sections.lastSection = section;
        walk.host.ShowTarget(walk.targetDirectory);
        if ((location.flags & kMoreLocations) == 0) return kOk;
        result = SkipSectionBody(walk.payload);
        if (result != kOk) return result;
    }
}
