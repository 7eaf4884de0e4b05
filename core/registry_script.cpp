#include "core/registry_script.h"

#include "core/byte_order.h"
#include "core/record_layout.h"

namespace {

// Reads confined to the script's own bytes.
class ScriptBytes {
  public:
    ScriptBytes(ByteSource& source, uint32_t length)
        : source_(source), end_(static_cast<uint64_t>(source.Position()) + length) {}

    bool Fits(uint64_t count) { return source_.Position() + count <= end_; }
    bool Bytes(void* buffer, uint32_t count) { return Fits(count) && source_.Read(buffer, count); }
    bool U8(uint8_t* value) { return Bytes(value, 1); }
    bool U32(uint32_t* value) {
        uint8_t bytes[4];
        if (!Bytes(bytes, sizeof bytes)) return false;
        *value = LoadLe32(bytes);
        return true;
    }
    bool String(std::string* out) {
        uint8_t length = 0;
        if (!U8(&length) || !Fits(length)) return false;
        char text[256];
        if (!source_.Read(text, length)) return false;
        // Cut at the first NUL, as every ShortString is.
        uint32_t kept = 0;
        while (kept < length && text[kept] != '\0') ++kept;
        out->assign(text, kept);
        return true;
    }

  private:
    ByteSource& source_;
    uint64_t end_;
};

bool ReadOperation(ScriptBytes& script, uint8_t code, RegistryOperation* op) {
    op->code = code;
    switch (code) {
        case kRegOpenKey:
            op->kind = RegistryOpKind::kOpenKey;
            return script.U32(&op->rootKey) && script.String(&op->keyPath);
        case kRegSetValue: {
            op->kind = RegistryOpKind::kSetValue;
            uint32_t dataLength = 0;
            if (!script.String(&op->valueName) || !script.U32(&op->valueType) ||
                !script.U32(&dataLength) || !script.Fits(dataLength)) {
                return false;
            }
            op->data.resize(dataLength);
            return dataLength == 0 || script.Bytes(op->data.data(), dataLength);
        }
        default:
            op->kind = RegistryOpKind::kUnknown;
            return true;
    }
}

}  // namespace

bool ReadRegistryScript(ByteSource& source, uint32_t length, RegistryScript* out) {
    *out = RegistryScript{};
    ScriptBytes script(source, length);
    uint32_t trim = 0;
    uint8_t reserved = 0;
    if (!script.U32(&out->checkRootKey) || !script.String(&out->checkKeyPath) ||
        !script.String(&out->checkValueName) || !script.U32(&trim) || !script.U8(&reserved)) {
        return false;
    }
    for (;;) {
        uint8_t code = 0;
        if (!script.U8(&code)) return false;
        if (code == kRegEnd) return true;
        RegistryOperation op;
        if (!ReadOperation(script, code, &op)) return false;
        out->operations.push_back(std::move(op));
    }
}
