#include "engine/target_paths.h"

#include "core/windows_names.h"
#include "platform/file_primitives.h"

std::string StagedPath(const SectionTables& sections, int section, const CurrentRecord& record) {
    return JoinPath(sections.staging[section], record.fileName);
}

std::string DestinationPath(const SectionTables& sections, int section,
                            const CurrentRecord& record) {
    return JoinPath(sections.target[section], record.fileName);
}

std::string BackupPath(const SectionTables& sections, int section, const CurrentRecord& record) {
    return JoinPath(JoinPath(sections.target[section], sections.backupName[section]),
                    record.fileName);
}

bool PathNamesFile(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

void RemoveEmptyDirectoriesBelow(const std::string& top, const std::string& relative) {
    // A 0x5C that is the second byte of a character separates nothing.
    for (const std::string& directory : ParentDirectories(relative)) {
        RemoveDir(JoinPath(top, directory));
    }
}

HKEY RootKeyHandle(uint32_t storedValue) {
    return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(storedValue)));
}
