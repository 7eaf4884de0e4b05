// Reads a patch executable back: trailer, header, inflated payload, texts,
// location and records. Used to check every patch right after it is built,
// and by the inspect and verify commands.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/lib/payload_writer.h"
#include "core/payload_layout.h"
#include "core/record_reader.h"

struct PatchContents {
    PatchHeader header{};
    uint32_t stubSize = 0;
    uint32_t bodySize = 0;
    Bytes payload;            // inflated
    std::string notice;       // code page 950, NUL-separated lines
    std::string description;  // code page 950, NUL-separated lines
    LocationSpec location;
    std::string backupName;
    std::vector<CurrentRecord> records;  // every record but the EndRecord
};

// False with a plain-language error when the file is not a readable patch.
bool ReadPatch(const Bytes& file, PatchContents* out, std::string* error);

// Decodes the chain of a changed file from variant `first` (0-based) on,
// starting from that variant's source content, into *out.
bool DecodeChain(const PatchContents& patch, const CurrentRecord& record, int first,
                 const Bytes& source, Bytes* out, std::string* error);

// CRC value of data with the byte range [skipOffset, skipOffset+skipLength)
// left out, as the applier compares existing files.
uint32_t CrcWithSkip(const Bytes& data, uint32_t skipOffset, uint32_t skipLength);
