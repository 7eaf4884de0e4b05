#include "engine/registry_update.h"

#include <windows.h>

#include <string>
#include <vector>

#include "core/record_layout.h"
#include "core/registry_script.h"
#include "engine/target_paths.h"
#include "platform/scoped_key.h"

namespace {

constexpr DWORD kCheckValueCapacity = 1001;

ResultCode CheckRegistered(const RegistryScript& script) {
    ScopedKey key;
    if (RegOpenKeyExA(RootKeyHandle(script.checkRootKey), script.checkKeyPath.c_str(), 0, KEY_READ,
                      key.out()) != ERROR_SUCCESS) {
        return kTargetNotRegistered;
    }
    BYTE data[kCheckValueCapacity] = {};
    DWORD size = kCheckValueCapacity;
    if (RegQueryValueExA(key.get(), script.checkValueName.c_str(), nullptr, nullptr, data, &size) !=
            ERROR_SUCCESS ||
        data[0] == 0) {
        return kTargetNotRegistered;
    }
    return kOk;
}

bool AlreadySaved(const ApplyRun& run, const SavedRegistryValue& value) {
    for (const SavedRegistryValue& saved : run.registryUndo) {
        if (saved.rootKey == value.rootKey && saved.keyPath == value.keyPath &&
            saved.valueName == value.valueName) {
            return true;
        }
    }
    return false;
}

// Notes what the value held before this run first wrote it, so a failed run
// can put it back; false when the old value cannot be read.
bool SaveOldValue(ApplyRun& run, HKEY key, const RegistryOperation& openKey,
                  const std::string& valueName) {
    SavedRegistryValue saved;
    saved.rootKey = openKey.rootKey;
    saved.keyPath = openKey.keyPath;
    saved.valueName = valueName;
    if (AlreadySaved(run, saved)) return true;
    DWORD size = 0;
    LONG status = RegQueryValueExA(key, valueName.c_str(), nullptr, &saved.type, nullptr, &size);
    if (status == ERROR_FILE_NOT_FOUND) {
        saved.existed = false;
    } else {
        if (status != ERROR_SUCCESS) return false;
        saved.data.resize(size);
        if (size > 0 && RegQueryValueExA(key, valueName.c_str(), nullptr, &saved.type,
                                         saved.data.data(), &size) != ERROR_SUCCESS) {
            return false;
        }
        saved.data.resize(size);
    }
    run.registryUndo.push_back(std::move(saved));
    return true;
}

ResultCode RunOperations(ApplyRun& run, const RegistryScript& script) {
    ScopedKey current;
    const RegistryOperation* currentKey = nullptr;
    for (const RegistryOperation& op : script.operations) {
        switch (op.kind) {
            case RegistryOpKind::kOpenKey:
                current.reset();
                if (RegOpenKeyExA(RootKeyHandle(op.rootKey), op.keyPath.c_str(), 0, KEY_ALL_ACCESS,
                                  current.out()) != ERROR_SUCCESS) {
                    return kRegistryDenied;
                }
                currentKey = &op;
                break;
            case RegistryOpKind::kSetValue:
                // Before any OpenKey there is no key open for writing.
                if (!currentKey) return kRegistryDenied;
                if (!SaveOldValue(run, current.get(), *currentKey, op.valueName)) {
                    return kRegistryDenied;
                }
                if (RegSetValueExA(current.get(), op.valueName.c_str(), 0, op.valueType,
                                   op.data.data(),
                                   static_cast<DWORD>(op.data.size())) != ERROR_SUCCESS) {
                    return kRegistryDenied;
                }
                break;
            case RegistryOpKind::kUnknown:
                break;
        }
    }
    return kOk;
}

}  // namespace

ResultCode ApplyRegistryRecord(ApplyRun& run, int /*section*/, const CurrentRecord& record) {
    switch (record.kind) {
        case RecordKind::kRegistry:
            break;
        case RecordKind::kFile:
        case RecordKind::kNewFile:
        case RecordKind::kObsolete:
        case RecordKind::kEnd:
            return kOk;
    }
    const uint32_t start = record.dataStart;
    const uint32_t length = record.scriptLength;
    if (!run.payload.Seek(start)) return kPatchDamaged;
    RegistryScript script;
    if (!ReadRegistryScript(run.payload, length, &script)) return kPatchDamaged;
    ResultCode result = CheckRegistered(script);
    if (result == kOk) result = RunOperations(run, script);
    return result;
}

void RestoreRegistryValues(ApplyRun& run) {
    // Latest first, so a value saved twice ends with its oldest data.
    for (auto saved = run.registryUndo.rbegin(); saved != run.registryUndo.rend(); ++saved) {
        ScopedKey key;
        if (RegOpenKeyExA(RootKeyHandle(saved->rootKey), saved->keyPath.c_str(), 0, KEY_SET_VALUE,
                          key.out()) != ERROR_SUCCESS) {
            continue;
        }
        if (saved->existed) {
            RegSetValueExA(key.get(), saved->valueName.c_str(), 0, saved->type, saved->data.data(),
                           static_cast<DWORD>(saved->data.size()));
        } else {
            RegDeleteValueA(key.get(), saved->valueName.c_str());
        }
    }
    run.registryUndo.clear();
}
