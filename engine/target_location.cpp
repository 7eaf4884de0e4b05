#include "engine/target_location.h"

#include <windows.h>

#include <cstdint>
#include <string>

#include "container/pass_runner.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/byte_order.h"
#include "core/record_layout.h"
#include "core/record_reader.h"
#include "core/result_codes.h"
#include "engine/target_paths.h"
#include "platform/cp950_text.h"
#include "platform/file_primitives.h"
#include "ui/window_services.h"
#include "platform/scoped_key.h"

namespace {

constexpr DWORD kDirectoryBufferSize = 1024;

int ReadRegistryLocation(int section) {
    uint8_t rootBytes[4];
    std::string keyPath;
    std::string valueName;
    if (!ReadPayload(rootBytes, sizeof rootBytes) || !ReadPayloadString(&keyPath) ||
        !ReadPayloadString(&valueName)) {
        return kPatchDamaged;
    }
    // The section body begins behind the registry fields.
    gSections.sectionStart[section] = PayloadPosition();
    ScopedKey key;
    if (RegOpenKeyExA(RootKeyHandle(LoadLe32(rootBytes)), keyPath.c_str(), 0, KEY_READ,
                      key.out()) != ERROR_SUCCESS) {
        return kTargetNotRegistered;
    }
    // One spare byte keeps a value that fills the buffer terminated.
    char data[kDirectoryBufferSize + 1] = {};
    DWORD size = kDirectoryBufferSize;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr,
                         reinterpret_cast<BYTE*>(data), &size) != ERROR_SUCCESS ||
        data[0] == '\0') {
        return kTargetNotRegistered;
    }
    gTargetDirectory = data;
    CutToDirectory();
    return kOk;
}

int UseSystemDirectory(UINT(WINAPI* query)(LPSTR, UINT)) {
    char data[kDirectoryBufferSize] = {};
    UINT length = query(data, kDirectoryBufferSize);
    // Without a directory every path would start at the root of the drive.
    if (length == 0 || length >= kDirectoryBufferSize) return kTargetNotRegistered;
    gTargetDirectory = data;
    return kOk;
}

int ResolveLocation(uint8_t kind, int section) {
    switch (kind) {
        case kUserPath:
            // An emptied path box means the current directory, as when nothing was given.
            gTargetDirectory =
                gWindow.requestedTargetPath.empty() ? "." : gWindow.requestedTargetPath;
            CutToDirectory();
            return kOk;
        case kRegistryValue:
            return ReadRegistryLocation(section);
        case kWindowsDirectory:
            return UseSystemDirectory(GetWindowsDirectoryA);
        case kSystemDirectory:
            return UseSystemDirectory(GetSystemDirectoryA);
        default:
            return kOk;  // an unknown kind keeps the directory in force
    }
}

// Passes over a section body (BackupName, records, EndRecord) to reach the
// LocationRecord of the next section.
int SkipSectionBody() {
    static CurrentRecord scratch;
    std::string backupName;
    if (!ReadPayloadString(&backupName)) return kPatchDamaged;
    for (;;) {
        if (ReadRecord(PayloadSource(), &scratch) != ReadRecordStatus::kOk) return kPatchDamaged;
        if (scratch.kind == kEndRecord) return kOk;
    }
}

}  // namespace

void CutToDirectory() {
    if (!FileExists(gTargetDirectory)) return;
    // A separator is a '\\' or '/' of its own, never the second byte of a
    // double-byte character, which would cut the name in two.
    size_t lastSeparator = Cp950LastSeparator(gTargetDirectory);
    if (lastSeparator == std::string::npos) {
        gTargetDirectory = ".";
    } else {
        gTargetDirectory.resize(lastSeparator + 1);
    }
}

int LocateTarget() {
    // Every run stages into a directory of its own, made at its first walk.
    for (std::string& staging : gSections.staging) staging.clear();
    if (!SeekPayload(gRecordsStart)) return kPatchDamaged;
    for (int section = 0;; ++section) {
        if (section >= kMaxSections) return kPatchDamaged;
        uint8_t kindAndFlags[2];
        if (!ReadPayload(kindAndFlags, sizeof kindAndFlags)) return kPatchDamaged;
        gSections.sectionStart[section] = PayloadPosition();
        int result = ResolveLocation(kindAndFlags[0], section);
        if (result != kOk) return result;
        gSections.target[section] = gTargetDirectory;
        gSections.lastSection = section;
        SetControlText(gWindow.pathEdit, gTargetDirectory.c_str());
        if ((kindAndFlags[1] & kMoreLocations) == 0) return kOk;
        result = SkipSectionBody();
        if (result != kOk) return result;
    }
}
