// Walks the record stream in passes, section by section, handing every record
// to one callback.
#pragma once
#include <cstdint>
#include <string>

#include "core/record_layout.h"
#include "core/record_reader.h"

using PassCallback = int (*)(int section, uint8_t kind);

struct SectionTables {
    uint32_t sectionStart[kMaxSections];
    std::string target[kMaxSections];
    std::string staging[kMaxSections];  // empty until made
    int lastSection;
};

extern CurrentRecord gCurrentRecord;
extern SectionTables gSections;
extern std::string gBackupName;  // BackupName of the section being walked

// Reads the next record into gCurrentRecord; 0 or 38 (unreadable, unknown
// kind, too many variants, unsafe name). Keeps gCurrentFileName in step.
int ReadRecord();
int WalkSection(int section, PassCallback callback);
int PassRunner(PassCallback callback, bool stopOnError);
