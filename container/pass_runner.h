// Walks the record stream in passes, section by section, handing every record
// to one visitor.
#pragma once
#include <cstdint>
#include <string>

#include "container/payload_file.h"
#include "host/run_host.h"
#include "core/record_layout.h"
#include "core/record_reader.h"
#include "core/result_codes.h"

struct SectionTables {
    uint32_t sectionStart[kMaxSections] = {};
    std::string target[kMaxSections];
    std::string staging[kMaxSections];     // empty until made
    std::string backupName[kMaxSections];  // BackupName, read again at every walk
    int lastSection = -1;
};

// Where a walk over the payload stands; made for one run.
struct RecordWalk {
    RecordWalk(PayloadFile& payloadFile, RunHost& runHost) : payload(payloadFile), host(runHost) {}

    PayloadFile& payload;
    RunHost& host;
    CurrentRecord record;  // the record just read
    // Where that record ends: unique in the stream, it names the record for
    // the passes that remember what they did to it.
    uint32_t recordEnd = 0;
    SectionTables sections;
    std::string backupName;       // BackupName of the section being walked
    std::string targetDirectory;  // directory of the section being processed
};

// Handles one record, read once by the walker; may read the record's data
// from anywhere in the payload: the walker goes on from the record's end
// whatever was read.
class RecordVisitor {
  public:
    virtual ResultCode Visit(int section, const CurrentRecord& record) = 0;

  protected:
    ~RecordVisitor() = default;
};

// Reads the next record into walk.record: kOk or kInternalFileError
// (unreadable, unknown kind, too many variants, unsafe name).
ResultCode ReadRecord(RecordWalk& walk);
ResultCode WalkSection(RecordWalk& walk, int section, RecordVisitor& visitor);
ResultCode PassRunner(RecordWalk& walk, RecordVisitor& visitor, bool stopOnError);
