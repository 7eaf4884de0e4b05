#include <iomanip>

#include "builder/cli/commands.h"
#include "builder/cli/file_io.h"
#include "builder/lib/patch_reader.h"

namespace {

const char* LocationText(uint8_t kind) {
    switch (kind) {
        case kUserPath:
            return "the user's path";
        case kRegistryValue:
            return "a registry value";
        case kWindowsDirectory:
            return "the Windows directory";
        case kSystemDirectory:
            return "the system directory";
        default:
            return "unknown";
    }
}

std::string Hex(uint32_t v) {
    std::ostringstream s;
    s << "0x" << std::hex << std::setw(8) << std::setfill('0') << v;
    return s.str();
}

void ListRecord(const CurrentRecord& r, std::ostream& out) {
    if (r.kind == kFileRecord) {
        const FileRecordHeader& h = r.fileHeader;
        out << "changed  " << r.fileName << "  size " << h.newSize << " crc " << Hex(h.newCrc)
            << ((h.fileFlags & kOptional) ? " optional" : "")
            << ((h.fileFlags & kSilent) ? " silent" : "") << "\n";
        for (int k = 0; k < h.sourceCount; ++k) {
            const VariantHeader& v = r.variants[k].header;
            uint64_t blocks = VariantDataLength(v);
            out << "    from version " << k + 1 << ": size " << v.sourceSize << " crc "
                << Hex(v.sourceCrc) << ", delta " << blocks << " bytes (group " << v.groupSize
                << ", chunk " << int(v.chunkSize)
                << ((v.deltaFlags & kReachOutput) ? ", reaches output" : "") << ")\n";
        }
    } else if (r.kind == kNewFileRecord) {
        out << "new      " << r.fileName << "  size " << r.newFileHeader.dataLength << "\n";
    } else if (r.kind == kObsoleteRecord) {
        out << "obsolete " << r.fileName << "\n";
    } else {
        out << "registry script, " << r.scriptLength << " bytes\n";
    }
}

}  // namespace

int RunInspect(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() != 1) {
        err << "usage: mkpatch inspect PATCH.exe\n";
        return kExitUsage;
    }
    PatchContents patch;
    if (!ReadPatchFile(args[0], &patch, err)) return kExitFailed;
    out << "applier " << patch.stubSize << " bytes, compressed payload " << patch.bodySize
        << " bytes, payload " << patch.payload.size() << " bytes\n"
        << "notice " << patch.notice.size() << " bytes, description " << patch.description.size()
        << " bytes\n"
        << "target: " << LocationText(patch.location.kind);
    if (patch.location.kind == kRegistryValue) {
        out << " " << Hex(patch.location.rootKey) << "\\" << patch.location.keyPath << " ["
            << patch.location.valueName << "]";
    }
    out << "\nbackup directory: " << patch.backupName << "\n";
    for (const CurrentRecord& r : patch.records) ListRecord(r, out);
    return kExitOk;
}
