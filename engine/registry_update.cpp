#include "engine/registry_update.h"

#include <windows.h>

#include <string>
#include <vector>

#include "core/byte_order.h"
#include "core/record_layout.h"
#include "engine/target_paths.h"
#include "platform/scoped_key.h"

namespace {

constexpr DWORD kCheckValueCapacity = 1001;
constexpr REGSAM kKeyFullAccess = KEY_ALL_ACCESS;

// Reads of one script, kept inside the script's own bytes: a script that
// lacks its End code is damaged, never read on into the next record.
class ScriptReader {
  public:
    ScriptReader(PayloadFile& payload, uint32_t start, uint32_t length)
        : payload_(payload), end_(static_cast<uint64_t>(start) + length) {}

    bool Bytes(void* buffer, uint32_t count) { return Fits(count) && payload_.Read(buffer, count); }
    bool U8(uint8_t* value) { return Bytes(value, 1); }
    bool U32(uint32_t* value) {
        uint8_t bytes[4];
        if (!Bytes(bytes, sizeof bytes)) return false;
        *value = LoadLe32(bytes);
        return true;
    }
    bool String(std::string* out) {
        uint8_t length = 0;
        if (!Fits(1)) return false;
        uint32_t before = payload_.Position();
        if (!payload_.Read(&length, 1)) return false;
        payload_.Seek(before);
        return Fits(1u + length) && payload_.ReadString(out);
    }
    bool Fits(uint32_t count) const {
        return payload_.Position() + static_cast<uint64_t>(count) <= end_;
    }

  private:
    PayloadFile& payload_;
    uint64_t end_;
};

ResultCode CheckRegistered(ScriptReader& script) {
    uint32_t rootKey = 0;
    uint32_t trim = 0;
    uint8_t reserved = 0;
    std::string keyPath;
    std::string valueName;
    if (!script.U32(&rootKey) || !script.String(&keyPath) || !script.String(&valueName) ||
        !script.U32(&trim) || !script.U8(&reserved)) {
        return kPatchDamaged;
    }
    ScopedKey key;
    HKEY opened = 0;
    if (RegOpenKeyExA(RootKeyHandle(rootKey), keyPath.c_str(), 0, KEY_READ, &opened) !=
        ERROR_SUCCESS) {
        return kTargetNotRegistered;
    }
    key.reset(opened);
    BYTE data[kCheckValueCapacity] = {};
    DWORD size = kCheckValueCapacity;
    if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, nullptr, data, &size) !=
            ERROR_SUCCESS ||
        data[0] == 0) {
        return kTargetNotRegistered;
    }
    return kOk;
}

ResultCode OpenKey(ScriptReader& script, ScopedKey* current) {
    uint32_t rootKey = 0;
    std::string keyPath;
    if (!script.U32(&rootKey) || !script.String(&keyPath)) return kPatchDamaged;
    HKEY opened = 0;
    if (RegOpenKeyExA(RootKeyHandle(rootKey), keyPath.c_str(), 0, kKeyFullAccess, &opened) !=
        ERROR_SUCCESS) {
        return kRegistryDenied;
    }
    current->reset(opened);
    return kOk;
}

// Value data of any length that the script holds: the buffer is sized by the
// record, which the script bounds, never by a fixed area.
ResultCode SetValue(ScriptReader& script, const ScopedKey& current) {
    std::string valueName;
    uint32_t valueType = 0;
    uint32_t dataLength = 0;
    if (!script.String(&valueName) || !script.U32(&valueType) || !script.U32(&dataLength) ||
        !script.Fits(dataLength)) {
        return kPatchDamaged;
    }
    std::vector<BYTE> data(dataLength);
    if (dataLength > 0 && !script.Bytes(data.data(), dataLength)) return kPatchDamaged;
    // Before any OpenKey there is no key open for writing.
    if (!current.get()) return kRegistryDenied;
    if (RegSetValueExA(current.get(), valueName.c_str(), 0, valueType, data.data(), dataLength) !=
        ERROR_SUCCESS) {
        return kRegistryDenied;
    }
    return kOk;
}

ResultCode RunScript(ScriptReader& script) {
    ResultCode result = CheckRegistered(script);
    if (result != kOk) return result;
    ScopedKey current;
    for (;;) {
        uint8_t op = 0;
        if (!script.U8(&op)) return kPatchDamaged;
        switch (op) {
            case kRegEnd:
                return kOk;
            case kRegOpenKey:
                result = OpenKey(script, &current);
                break;
            case kRegSetValue:
                result = SetValue(script, current);
                break;
            default:
                break;  // unknown operations carry no operands
        }
        if (result != kOk) return result;
    }
}

}  // namespace

ResultCode ApplyRegistryRecord(ApplyRun& run, int /*section*/, uint8_t kind) {
    if (kind != kRegistryRecord) return kOk;
    const uint32_t start = run.record.dataStart;
    const uint32_t length = run.record.scriptLength;
    if (!run.payload.Seek(start)) return kPatchDamaged;
    ScriptReader script(run.payload, start, length);
    ResultCode result = RunScript(script);
    // The next record begins where the script's length says, whatever follows End.
    run.payload.Seek(start + length);
    return result;
}
