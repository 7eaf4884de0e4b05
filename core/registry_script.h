// The registry script of a registry record, read whole: the registered-
// software check, then the operations in order. The applier carries it out
// and inspect shows it, both from this one reading.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/byte_source.h"

enum class RegistryOpKind : uint8_t {
    kOpenKey,   // rootKey and keyPath become the current key
    kSetValue,  // valueName, valueType and data go to the current key
    kUnknown,   // any other code: carries no operands and is passed over
};

struct RegistryOperation {
    RegistryOpKind kind = RegistryOpKind::kUnknown;
    uint8_t code = 0;  // the stored operation code
    uint32_t rootKey = 0;
    std::string keyPath;
    std::string valueName;
    uint32_t valueType = 0;
    std::vector<uint8_t> data;
};

struct RegistryScript {
    uint32_t checkRootKey = 0;
    std::string checkKeyPath;
    std::string checkValueName;                 // empty: the key's default value
    std::vector<RegistryOperation> operations;  // up to, not including, End
};

// Reads a script of `length` bytes at the source's position. False when any
// field runs past those bytes or the End operation is missing; a script is
// never read on into the record behind it.
bool ReadRegistryScript(ByteSource& source, uint32_t length, RegistryScript* out);
