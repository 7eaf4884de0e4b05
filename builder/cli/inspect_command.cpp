#include <iomanip>
#include <sstream>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/cli/options.h"
#include "builder/lib/patch_reader.h"
#include "builder/lib/text_cp950.h"
#include "core/byte_order.h"

namespace {

constexpr uint32_t kRegSz = 1, kRegExpandSz = 2, kRegDword = 4;
constexpr size_t kShownDataBytes = 32;

const char* LocationText(uint8_t kind) {
    static const char* const kNames[] = {"user", "registry", "windows", "system"};
    return kind < 4 ? kNames[kind] : "unknown";
}

std::string RootKeyName(uint32_t root) {
    static const char* const kRoots[] = {
        "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
        "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
    if (root >= 0x80000000u && root <= 0x80000006u) return kRoots[root - 0x80000000u];
    std::ostringstream s;
    s << "0x" << std::hex << root;
    return s.str();
}

std::string Hex(uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << std::setw(8) << std::setfill('0') << v;
    return s.str();
}

std::string Utf8(const std::string& cp950) {
    std::string text;
    Cp950ToUtf8(cp950, &text);
    return text;
}

// NUL-separated lines of the payload; the notice shows nothing after "#%".
std::string TextLines(const std::string& cp950, bool notice, bool all) {
    std::string text = cp950;
    size_t marker = notice && !all ? text.find("#%") : std::string::npos;
    if (marker != std::string::npos) text.erase(marker);
    for (char& c : text) c = c == '\0' ? '\n' : c;
    return Utf8(text);
}

std::string ValueText(const RegistryEntry& e) {
    std::ostringstream s;
    if ((e.type == kRegSz || e.type == kRegExpandSz)) {
        std::string text(e.data.begin(), e.data.end());
        while (!text.empty() && text.back() == '\0') text.pop_back();
        s << Utf8(text);
    } else if (e.type == kRegDword && e.data.size() == 4) {
        s << LoadLe32(e.data.data());
    } else {
        for (size_t k = 0; k < e.data.size() && k < kShownDataBytes; ++k) {
            s << (k ? "," : "") << std::hex << std::setw(2) << std::setfill('0') << int(e.data[k]);
        }
        if (e.data.size() > kShownDataBytes) s << ",...";
    }
    return s.str();
}

std::string TypeName(uint32_t type) {
    static const char* const kTypes[] = {"REG_NONE",   "REG_SZ",      "REG_EXPAND_SZ",
                                         "REG_BINARY", "REG_DWORD",   "REG_DWORD_BIG_ENDIAN",
                                         "REG_LINK",   "REG_MULTI_SZ"};
    return type < 8 ? kTypes[type] : "type " + std::to_string(type);
}

struct Totals {
    size_t changed = 0, versions = 0, added = 0, obsolete = 0, values = 0;
    uint64_t deltaBytes = 0, newBytes = 0;
};

void CountRecord(const CurrentRecord& r, const RegistryScriptView& script, Totals* t) {
    switch (r.kind) {
        case RecordKind::kFile:
            ++t->changed;
            t->versions += r.fileHeader.sourceCount;
            for (int k = 0; k < r.fileHeader.sourceCount; ++k) {
                t->deltaBytes += VariantDataLength(r.variants[k].header);
            }
            return;
        case RecordKind::kNewFile:
            ++t->added;
            t->newBytes += r.newFileHeader.dataLength;
            return;
        case RecordKind::kObsolete:
            ++t->obsolete;
            return;
        case RecordKind::kRegistry:
            t->values += script.entries.size();
            return;
        case RecordKind::kEnd:
            return;
    }
}

void TextRecord(const CurrentRecord& r, const RegistryScriptView& script, bool verbose,
                std::ostream& out) {
    const std::string name = Utf8(r.fileName);
    switch (r.kind) {
        case RecordKind::kFile: {
            const FileRecordHeader& h = r.fileHeader;
            out << "changed  " << name << "  size " << h.newSize << " crc " << Hex(h.newCrc)
                << ((h.fileFlags & kOptional) ? " optional" : "")
                << ((h.fileFlags & kSilent) ? " silent" : "") << "\n";
            for (int k = 0; k < h.sourceCount; ++k) {
                const VariantHeader& v = r.variants[k].header;
                out << "    from version " << k + 1 << " (size " << v.sourceSize << " crc "
                    << Hex(v.sourceCrc) << "): delta " << VariantDataLength(v) << " bytes to "
                    << (k + 1 < h.sourceCount ? "version " + std::to_string(k + 2)
                                              : "the new file");
                if (verbose) {
                    out << " (group " << v.groupSize << ", chunk " << int(v.chunkSize)
                        << ((v.deltaFlags & kReachOutput) ? ", reaches output" : "") << ")";
                }
                out << "\n";
            }
            break;
        }
        case RecordKind::kNewFile:
            out << "new      " << name << "  size " << r.newFileHeader.dataLength << "\n";
            break;
        case RecordKind::kObsolete:
            out << "obsolete " << name << "\n";
            break;
        case RecordKind::kRegistry:
            out << "registry, written only when " << RootKeyName(script.checkRootKey) << "\\"
                << Utf8(script.checkKeyPath) << " [" << Utf8(script.checkValueName) << "] exists\n";
            for (const RegistryEntry& e : script.entries) {
                out << "    " << RootKeyName(e.rootKey) << "\\" << Utf8(e.keyPath) << " ["
                    << Utf8(e.name) << "] " << TypeName(e.type) << " = " << ValueText(e) << "\n";
            }
            for (uint8_t code : script.passedOver) {
                out << "    operation " << int(code) << ", unknown, passed over\n";
            }
            break;
        case RecordKind::kEnd:
            break;
    }
}

void JsonRecord(const CurrentRecord& r, const RegistryScriptView& script, std::ostream& out) {
    out << "{\"kind\":\"" << RecordKindName(r.kind) << "\"";
    switch (r.kind) {
        case RecordKind::kFile: {
            const FileRecordHeader& h = r.fileHeader;
            out << ",\"name\":" << JsonText(Utf8(r.fileName)) << ",\"size\":" << h.newSize
                << ",\"crc\":\"" << Hex(h.newCrc)
                << "\",\"optional\":" << ((h.fileFlags & kOptional) ? "true" : "false")
                << ",\"silent\":" << ((h.fileFlags & kSilent) ? "true" : "false")
                << ",\"versions\":[";
            for (int k = 0; k < h.sourceCount; ++k) {
                const VariantHeader& v = r.variants[k].header;
                out << (k ? "," : "") << "{\"size\":" << v.sourceSize << ",\"crc\":\""
                    << Hex(v.sourceCrc) << "\",\"delta_bytes\":" << VariantDataLength(v) << "}";
            }
            out << "]";
            break;
        }
        case RecordKind::kNewFile:
            out << ",\"name\":" << JsonText(Utf8(r.fileName))
                << ",\"size\":" << r.newFileHeader.dataLength;
            break;
        case RecordKind::kObsolete:
            out << ",\"name\":" << JsonText(Utf8(r.fileName));
            break;
        case RecordKind::kRegistry:
            out << ",\"check\":{\"root\":\"" << RootKeyName(script.checkRootKey)
                << "\",\"key\":" << JsonText(Utf8(script.checkKeyPath))
                << ",\"value\":" << JsonText(Utf8(script.checkValueName)) << "},\"values\":[";
            for (size_t k = 0; k < script.entries.size(); ++k) {
                const RegistryEntry& e = script.entries[k];
                out << (k ? "," : "") << "{\"root\":\"" << RootKeyName(e.rootKey)
                    << "\",\"key\":" << JsonText(Utf8(e.keyPath))
                    << ",\"name\":" << JsonText(Utf8(e.name)) << ",\"type\":" << e.type
                    << ",\"data\":" << JsonText(ValueText(e)) << "}";
            }
            out << "],\"passed_over\":[";
            for (size_t k = 0; k < script.passedOver.size(); ++k) {
                out << (k ? "," : "") << int(script.passedOver[k]);
            }
            out << "]";
            break;
        case RecordKind::kEnd:
            break;
    }
    out << "}";
}

}  // namespace

int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ReadOptions o;
    std::string error;
    if (!ParseReadOptions(args, 1, &o, &error)) return UsageError(error, err);
    PatchContents patch;
    if (!ReadPatchFile(o.operands[0], &patch, err)) return kExitFailed;
    std::vector<RegistryScriptView> scripts(patch.records.size());
    Totals totals;
    for (size_t i = 0; i < patch.records.size(); ++i) {
        if (patch.records[i].kind == RecordKind::kRegistry &&
            !ReadRegistryScript(patch, patch.records[i], &scripts[i], &error)) {
            err << "error: " << o.operands[0] << ": " << error << "\n";
            return kExitFailed;
        }
        CountRecord(patch.records[i], scripts[i], &totals);
    }
    const LocationSpec& l = patch.location;
    std::ostringstream total;
    total << totals.changed << " changed (" << totals.versions << " versions, " << totals.deltaBytes
          << " delta bytes), " << totals.added << " new (" << totals.newBytes << " bytes), "
          << totals.obsolete << " obsolete, " << totals.values << " registry values";
    if (o.json) {
        out << "{\"applier_bytes\":" << patch.stubSize - patch.alignmentBytes
            << ",\"alignment_bytes\":" << patch.alignmentBytes
            << ",\"compressed_bytes\":" << patch.bodySize
            << ",\"payload_bytes\":" << patch.payload.size()
            << ",\"notice\":" << JsonText(TextLines(patch.notice, true, true))
            << ",\"description\":" << JsonText(TextLines(patch.description, false, true))
            << ",\"target\":{\"kind\":\"" << LocationText(l.kind) << "\"";
        if (l.kind == kRegistryValue) {
            out << ",\"root\":\"" << RootKeyName(l.rootKey)
                << "\",\"key\":" << JsonText(Utf8(l.keyPath))
                << ",\"value\":" << JsonText(Utf8(l.valueName));
        }
        out << "},\"backup\":" << JsonText(Utf8(patch.backupName)) << ",\"records\":[";
        for (size_t i = 0; i < patch.records.size(); ++i) {
            out << (i ? "," : "");
            JsonRecord(patch.records[i], scripts[i], out);
        }
        out << "],\"totals\":{\"changed\":" << totals.changed << ",\"versions\":" << totals.versions
            << ",\"delta_bytes\":" << totals.deltaBytes << ",\"new\":" << totals.added
            << ",\"new_bytes\":" << totals.newBytes << ",\"obsolete\":" << totals.obsolete
            << ",\"registry_values\":" << totals.values << "}}\n";
        return kExitOk;
    }
    if (o.quiet) {
        out << total.str() << "\n";
        return kExitOk;
    }
    out << "applier " << patch.stubSize - patch.alignmentBytes << " bytes"
        << (patch.alignmentBytes ? " (+" + std::to_string(patch.alignmentBytes) + " alignment)"
                                 : "")
        << ", compressed payload " << patch.bodySize << " bytes, payload " << patch.payload.size()
        << " bytes\n"
        << "target: " << LocationText(l.kind);
    if (l.kind == kRegistryValue) {
        out << ", the value [" << Utf8(l.valueName) << "] of " << RootKeyName(l.rootKey) << "\\"
            << Utf8(l.keyPath);
    }
    out << "\nbackup directory: " << Utf8(patch.backupName) << "\n";
    const std::pair<const char*, std::string> kTexts[] = {
        {"notice", TextLines(patch.notice, true, o.verbose)},
        {"description", TextLines(patch.description, false, true)}};
    for (const auto& [label, text] : kTexts) {
        if (text.empty()) continue;
        out << label << ":\n  ";
        for (char c : text) out << (c == '\n' ? std::string("\n  ") : std::string(1, c));
        out << "\n";
    }
    for (size_t i = 0; i < patch.records.size(); ++i) {
        TextRecord(patch.records[i], scripts[i], o.verbose, out);
    }
    out << "totals: " << total.str() << "\n";
    return kExitOk;
}
