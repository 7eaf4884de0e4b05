// Byte layout of the record stream inside the inflated payload. All integers
// little-endian, no padding; a ShortString is a length byte and that many bytes.
#pragma once
#include <cstdint>

constexpr int kMaxSections = 20;
constexpr int kMaxSourceVariants = 20;
constexpr int kShortStringMax = 255;

enum LocationKind : uint8_t {
    kUserPath = 0,
    kRegistryValue = 1,
    kWindowsDirectory = 2,
    kSystemDirectory = 3,
};
constexpr uint8_t kMoreLocations = 0x02;  // LocationFlags bit 1

// Stored as a u8 code. A new kind is added here, in the reader
// (core/record_reader.cpp), the builder's writer and every switch the
// compiler then finds without a case for it: none has a default.
enum class RecordKind : uint8_t {
    kEnd = 0,
    kFile = 1,
    kNewFile = 2,
    kObsolete = 3,
    kRegistry = 5,
};
constexpr uint8_t RecordCode(RecordKind kind) { return static_cast<uint8_t>(kind); }

// FileFlags
constexpr uint8_t kHasSkipRange = 0x01;
constexpr uint8_t kOptional = 0x02;
constexpr uint8_t kSilent = 0x04;

// DeltaFlags
constexpr uint8_t kReachOutput = 0x01;
constexpr uint8_t kRawDiffs = 0x02;

enum DeltaBlock { kCommandBlock = 0, kBitStreamC, kBitStreamB, kInsertBlock, kDiffBlock };
constexpr int kDeltaBlockCount = 5;

constexpr uint32_t kFileRecordHeaderSize = 18;
constexpr uint32_t kVariantHeaderSize = 32;
constexpr uint32_t kNewFileHeaderSize = 10;

// Registry script operations
enum RegistryOp : uint8_t { kRegEnd = 0, kRegOpenKey = 1, kRegSetValue = 2 };

struct FileRecordHeader {
    uint32_t newCrc;
    uint32_t newSize;
    uint32_t newTime;  // DOS date (high 16) and time (low 16); 0 leaves the time alone
    uint16_t attributes;
    uint16_t sourceCount;
    uint8_t fileFlags;
    uint8_t reserved;
};

struct VariantHeader {
    uint32_t sourceCrc;
    uint32_t sourceSize;
    uint32_t blockLength[kDeltaBlockCount];
    uint16_t groupSize;
    uint8_t deltaFlags;
    uint8_t chunkSize;
};

struct NewFileHeader {
    uint32_t dataLength;
    uint32_t newTime;
    uint16_t attributes;
};

void ParseFileRecordHeader(const uint8_t bytes[kFileRecordHeaderSize], FileRecordHeader* out);
void SerializeFileRecordHeader(const FileRecordHeader& h, uint8_t bytes[kFileRecordHeaderSize]);
void ParseVariantHeader(const uint8_t bytes[kVariantHeaderSize], VariantHeader* out);
void SerializeVariantHeader(const VariantHeader& h, uint8_t bytes[kVariantHeaderSize]);
void ParseNewFileHeader(const uint8_t bytes[kNewFileHeaderSize], NewFileHeader* out);
void SerializeNewFileHeader(const NewFileHeader& h, uint8_t bytes[kNewFileHeaderSize]);

// Sum of the five block lengths (64-bit, so it cannot overflow).
uint64_t VariantDataLength(const VariantHeader& h);
