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

// A patch is a multiple of this many bytes long (see PatchFileOptions).
constexpr uint32_t kPatchAlignment = 8;

struct PatchContents {
    PatchHeader header{};
    uint32_t stubSize = 0;        // everything in front of the header
    uint32_t alignmentBytes = 0;  // zeros of it behind the applier's image
    uint32_t bodySize = 0;
    Bytes payload;            // inflated
    std::string notice;       // code page 950, NUL-separated lines
    std::string description;  // code page 950, NUL-separated lines
    LocationSpec location;
    std::string backupName;
    std::vector<CurrentRecord> records;  // every record but the EndRecord
};

// A crafted body can inflate to far more than any real payload; no real
// patch compresses its whole payload beyond this ratio, and small ones may
// always reach the floor.
constexpr uint64_t kPayloadRatioLimit = 64;
constexpr uint64_t kPayloadFloorLimit = 64ull << 20;
uint64_t PayloadLimit(uint64_t bodySize);

// False with a plain-language error when the file is not a readable patch or
// its payload inflates beyond PayloadLimit of its body.
bool ReadPatch(const Bytes& file, PatchContents* out, std::string* error);

// An applier stub must be a 32-bit Windows GUI program, whole, without a
// payload of its own; false with the reason otherwise. The 64-bit build of
// the applier is taken only when asked for: it serves tests where 32-bit
// Windows programs cannot run.
bool CheckStub(const Bytes& stub, bool allow64Bit, std::string* error);

struct RegistryEntry {
    uint32_t rootKey = 0;
    std::string keyPath;  // code page 950
    std::string name;     // code page 950; empty: the key's default value
    uint32_t type = 0;
    Bytes data;
};

// A registry record's script as inspect shows it: the registered-software
// check, then the values with the key each goes to (core/registry_script.h
// reads it, as the applier does).
struct RegistryScriptView {
    uint32_t checkRootKey = 0;
    std::string checkKeyPath, checkValueName;  // code page 950
    std::vector<RegistryEntry> entries;
    // Codes of operations the applier passes over (they carry no operands).
    std::vector<uint8_t> passedOver;
};

bool ReadRegistryScript(const PatchContents& patch, const CurrentRecord& record,
                        RegistryScriptView* out, std::string* error);

// True when the chain from variant `first` on turns source into expected;
// the last step is compared as it is decoded, so a large file is not held
// a second time.
bool ChainRebuilds(const PatchContents& patch, const CurrentRecord& record, int first,
                   const Bytes& source, const Bytes& expected, std::string* error);

// Decodes the chain of a changed file from variant `first` (0-based) on,
// starting from that variant's source content, into *out.
bool DecodeChain(const PatchContents& patch, const CurrentRecord& record, int first,
                 const Bytes& source, Bytes* out, std::string* error);

// CRC value of data with the byte range [skipOffset, skipOffset+skipLength)
// left out, as the applier compares existing files.
uint32_t CrcWithSkip(const Bytes& data, uint32_t skipOffset, uint32_t skipLength);
