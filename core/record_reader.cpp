#include "core/record_reader.h"

#include "core/byte_order.h"
#include "core/windows_names.h"

namespace {

bool ReadU8(ByteSource& source, uint8_t* value) { return source.Read(value, 1); }

bool ReadU32(ByteSource& source, uint32_t* value) {
    uint8_t bytes[4];
    if (!source.Read(bytes, 4)) return false;
    *value = LoadLe32(bytes);
    return true;
}

bool ReadSkipRange(ByteSource& source, uint32_t* offset, uint32_t* length) {
    return ReadU32(source, offset) && ReadU32(source, length);
}

ReadRecordStatus ReadFileName(ByteSource& source, std::string* name) {
    if (!ReadShortString(source, name)) return ReadRecordStatus::kReadFailed;
    return IsSafeRelativeName(*name) ? ReadRecordStatus::kOk : ReadRecordStatus::kUnsafeName;
}

ReadRecordStatus ReadVariant(ByteSource& source, const CurrentRecord& record, SourceVariant* v) {
    if (!ReadShortString(source, &v->sourceName)) return ReadRecordStatus::kReadFailed;
    if (v->sourceName.empty()) v->sourceName = record.fileName;
    if (!IsSafeRelativeName(v->sourceName)) return ReadRecordStatus::kUnsafeName;
    uint8_t header[kVariantHeaderSize];
    if (!source.Read(header, kVariantHeaderSize)) return ReadRecordStatus::kReadFailed;
    ParseVariantHeader(header, &v->header);
    v->skipOffset = 0;
    v->skipLength = 0;
    if ((record.fileHeader.fileFlags & kHasSkipRange) &&
        !ReadSkipRange(source, &v->skipOffset, &v->skipLength)) {
        return ReadRecordStatus::kReadFailed;
    }
    v->dataStart = source.Position();
    if (!SkipBytes(source, VariantDataLength(v->header))) return ReadRecordStatus::kReadFailed;
    return ReadRecordStatus::kOk;
}

ReadRecordStatus ReadFileRecord(ByteSource& source, CurrentRecord* record) {
    uint8_t header[kFileRecordHeaderSize];
    if (!source.Read(header, kFileRecordHeaderSize)) return ReadRecordStatus::kReadFailed;
    ParseFileRecordHeader(header, &record->fileHeader);
    record->expectedSize = record->fileHeader.newSize;
    record->newSkipOffset = 0;
    record->newSkipLength = 0;
    if ((record->fileHeader.fileFlags & kHasSkipRange) &&
        !ReadSkipRange(source, &record->newSkipOffset, &record->newSkipLength)) {
        return ReadRecordStatus::kReadFailed;
    }
    ReadRecordStatus status = ReadFileName(source, &record->fileName);
    if (status != ReadRecordStatus::kOk) return status;
    if (record->fileHeader.sourceCount > kMaxSourceVariants) {
        return ReadRecordStatus::kTooManySources;
    }
    for (int j = 0; j < record->fileHeader.sourceCount; ++j) {
        status = ReadVariant(source, *record, &record->variants[j]);
        if (status != ReadRecordStatus::kOk) return status;
    }
    return ReadRecordStatus::kOk;
}

ReadRecordStatus ReadNewFileRecord(ByteSource& source, CurrentRecord* record) {
    ReadRecordStatus status = ReadFileName(source, &record->fileName);
    if (status != ReadRecordStatus::kOk) return status;
    uint8_t header[kNewFileHeaderSize];
    if (!source.Read(header, kNewFileHeaderSize)) return ReadRecordStatus::kReadFailed;
    ParseNewFileHeader(header, &record->newFileHeader);
    record->dataStart = source.Position();
    if (!SkipBytes(source, record->newFileHeader.dataLength)) return ReadRecordStatus::kReadFailed;
    return ReadRecordStatus::kOk;
}

ReadRecordStatus ReadRegistryRecord(ByteSource& source, CurrentRecord* record) {
    if (!ReadU32(source, &record->scriptLength)) return ReadRecordStatus::kReadFailed;
    record->dataStart = source.Position();
    if (!SkipBytes(source, record->scriptLength)) return ReadRecordStatus::kReadFailed;
    return ReadRecordStatus::kOk;
}

}  // namespace

bool ReadLocationRecord(ByteSource& source, LocationRecord* out) {
    *out = LocationRecord{};
    if (!ReadU8(source, &out->kind) || !ReadU8(source, &out->flags)) return false;
    if (out->kind != kRegistryValue) return true;
    return ReadU32(source, &out->rootKey) && ReadShortString(source, &out->keyPath) &&
           ReadShortString(source, &out->valueName);
}

bool IsSafeRelativeName(const std::string& name) {
    return CheckPatchPath(name) == NameProblem::kNone;
}

bool NamesTargetFile(RecordKind kind) {
    switch (kind) {
        case RecordKind::kFile:
        case RecordKind::kNewFile:
        case RecordKind::kObsolete:
            return true;
        case RecordKind::kRegistry:
        case RecordKind::kEnd:
            break;
    }
    return false;
}

const char* RecordKindName(RecordKind kind) {
    switch (kind) {
        case RecordKind::kFile:
            return "changed";
        case RecordKind::kNewFile:
            return "new";
        case RecordKind::kObsolete:
            return "obsolete";
        case RecordKind::kRegistry:
            return "registry";
        case RecordKind::kEnd:
            break;
    }
    return "end";
}

bool RecordKindOf(uint8_t code, RecordKind* kind) {
    constexpr RecordKind kKinds[] = {RecordKind::kEnd, RecordKind::kFile, RecordKind::kNewFile,
                                     RecordKind::kObsolete, RecordKind::kRegistry};
    for (RecordKind k : kKinds) {
        if (RecordCode(k) == code) {
            *kind = k;
            return true;
        }
    }
    return false;
}

ReadRecordStatus ReadRecord(ByteSource& source, CurrentRecord* record) {
    uint8_t code = 0;
    if (!ReadU8(source, &code)) return ReadRecordStatus::kReadFailed;
    if (!RecordKindOf(code, &record->kind)) return ReadRecordStatus::kUnknownKind;
    switch (record->kind) {
        case RecordKind::kEnd:
            return ReadRecordStatus::kOk;
        case RecordKind::kFile:
            return ReadFileRecord(source, record);
        case RecordKind::kNewFile:
            return ReadNewFileRecord(source, record);
        case RecordKind::kObsolete:
            return ReadFileName(source, &record->fileName);
        case RecordKind::kRegistry:
            return ReadRegistryRecord(source, record);
    }
    return ReadRecordStatus::kUnknownKind;
}
