// Reads one record of the stream into the current record. Only fixed fields
// and names are read; bulk data (delta blocks, file contents, scripts) is
// passed over, with every length checked against what remains.
#pragma once
#include <cstdint>
#include <string>

#include "core/byte_source.h"
#include "core/record_layout.h"

struct SourceVariant {
    std::string sourceName;  // the FileName when the stored name is empty
    VariantHeader header;
    uint32_t skipOffset;
    uint32_t skipLength;
    uint32_t dataStart;  // position of the variant's CommandBlock
};

struct CurrentRecord {
    RecordKind kind = RecordKind::kEnd;
    std::string fileName;  // kept across End and Registry records ("%m")
    FileRecordHeader fileHeader{};
    uint32_t newSkipOffset = 0;
    uint32_t newSkipLength = 0;
    uint32_t expectedSize = 0;
    SourceVariant variants[kMaxSourceVariants]{};
    NewFileHeader newFileHeader{};
    // Content of a new file or script of a registry record (the first data slot).
    uint32_t dataStart = 0;
    uint32_t scriptLength = 0;
};

enum class ReadRecordStatus {
    kOk,
    kReadFailed,      // the stream ends or a length runs past it
    kUnknownKind,     // kind 4 or 6..255
    kTooManySources,  // SourceCount above the table size
    kUnsafeName,      // a name Windows would not create as that file below the target
};

// How a section's target directory is found (the record at its head).
struct LocationRecord {
    uint8_t kind = kUserPath;  // a LocationKind; other values name no location
    uint8_t flags = 0;         // kMoreLocations: another location record follows
    uint32_t rootKey = 0;      // kRegistryValue only
    std::string keyPath;       // kRegistryValue only
    std::string valueName;     // kRegistryValue only; empty: the key's default value
};

// Reads a location record; false when it is cut short. The source then
// stands at the section's start.
bool ReadLocationRecord(ByteSource& source, LocationRecord* out);

// True for the kinds whose FileName is a file below the target: the names
// that are checked against each other and against the backup directory.
bool NamesTargetFile(RecordKind kind);

// How the builder's tools name a kind: "changed", "new", "obsolete",
// "registry", "end".
const char* RecordKindName(RecordKind kind);

// The kind a stored code names; false for the codes no kind has (4, 6-255).
bool RecordKindOf(uint8_t code, RecordKind* kind);

// Reads the record at the source's position. On kOk the source stands at the
// next record and record->kind holds its kind.
ReadRecordStatus ReadRecord(ByteSource& source, CurrentRecord* record);

// True for a relative name that Windows creates as an ordinary file of that
// name below the directory it is joined to, and that is none of the applier's
// own work names (see CheckPatchPath). Used for file, source and backup names.
bool IsSafeRelativeName(const std::string& name);
