// Writes the record stream, the inflated payload and the patch file, in the
// layout the applier reads. Used by the builder and by every test that needs a
// patch, so each test states what its payload means instead of dumping bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/record_layout.h"

using Bytes = std::vector<uint8_t>;

struct LocationSpec {
    uint8_t kind = kUserPath;
    uint32_t rootKey = 0;   // RegistryValue only, e.g. 0x80000002
    std::string keyPath;    // RegistryValue only
    std::string valueName;  // RegistryValue only; empty = default value
};

// One step of a changed file: header fields and the five blocks.
struct DeltaVariant {
    std::string sourceName;  // empty stands for the FileName
    VariantHeader header{};  // blockLength[] is filled from blocks when written
    uint32_t skipOffset = 0;
    uint32_t skipLength = 0;
    Bytes blocks[kDeltaBlockCount];
};

struct ChangedFile {
    std::string fileName;
    FileRecordHeader header{};  // sourceCount is filled from variants when written
    uint32_t newSkipOffset = 0;
    uint32_t newSkipLength = 0;
    std::vector<DeltaVariant> variants;  // oldest first
};

// Appends records to a stream. One section, laid out as the applier expects:
// LocationRecord, BackupName, records, EndRecord. For several sections each
// section repeats that sequence, and every LocationRecord but the last carries
// MoreLocations.
class RecordStreamWriter {
  public:
    void Location(const LocationSpec& location, bool moreLocations = false);
    void BackupName(const std::string& name);
    void Changed(const ChangedFile& file);
    void NewFile(const std::string& fileName, const Bytes& content, uint32_t newTime = 0,
                 uint16_t attributes = 0);
    void Obsolete(const std::string& fileName);
    void Registry(const Bytes& script);
    void End();
    // Arbitrary bytes, for tests that build damaged streams on purpose.
    void Raw(const Bytes& bytes);
    void ShortString(const std::string& text);
    void U8(uint8_t v);
    void U16(uint16_t v);
    void U32(uint32_t v);

    const Bytes& bytes() const { return bytes_; }
    // False once a text longer than 255 bytes or a length beyond u32 had to be
    // cut: the stream no longer says what the caller asked for.
    bool ok() const { return ok_; }

  private:
    uint32_t Length(size_t count);

    Bytes bytes_;
    bool ok_ = true;
};

// Builds a RegistryScript: the registered-software check, then operations.
class RegistryScriptWriter {
  public:
    RegistryScriptWriter(uint32_t checkRootKey, const std::string& checkKeyPath,
                         const std::string& checkValueName, uint32_t checkTrim = 0);
    void OpenKey(uint32_t rootKey, const std::string& keyPath);
    void SetValue(const std::string& valueName, uint32_t valueType, const Bytes& data);
    void Op(uint8_t code);  // any op byte, for tests of unknown operations
    // Appends the End operation and returns the script.
    Bytes Finish();
    bool ok() const { return w_.ok(); }

  private:
    RecordStreamWriter w_;
};

// The inflated payload: notice, description, record stream. Texts are code
// page 950 bytes; NUL bytes in them are line separators.
Bytes BuildPayload(const Bytes& notice, const Bytes& description, const Bytes& recordStream);

struct PatchFileOptions {
    bool compress = true;
    int level = 9;  // zlib level for the raw deflate body
    uint32_t builderValue = 30;
    uint8_t builderByte = 2;
    // Zero bytes between stub and header so the file is a multiple of 8 long:
    // signing tools then append their certificate table right behind the
    // trailer. Off by default, so tests also cover unaligned signed patches.
    bool alignToEight = false;
    // The inflated payload's length and CRC value in the OpaqueBlock, so the
    // applier refuses a body that inflates into something else.
    bool integrityRecord = true;
};

// stub (the applier executable) + PatchHeader + body + PayloadTrailer.
// The header's text lengths are taken from the payload's own notice and
// description lengths, passed in explicitly.
Bytes BuildPatchFile(const Bytes& stub, const Bytes& payload, uint16_t noticeLength,
                     uint16_t descriptionLength, const PatchFileOptions& options);

// The same frame around a body already compressed (when options.compress) by
// the caller's own deflate from payload; options.level is not used.
Bytes FramePatchBody(const Bytes& stub, const Bytes& body, const Bytes& payload,
                     uint16_t noticeLength, uint16_t descriptionLength,
                     const PatchFileOptions& options);

// Raw deflate (window bits -15) of data at the given level.
Bytes RawDeflate(const Bytes& data, int level);

// DOS date/time (date high, time low) from calendar fields.
uint32_t DosDateTime(int year, int month, int day, int hour, int minute, int second);
