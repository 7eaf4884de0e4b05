#include "builder/lib/patch_check.h"

#include <iterator>

namespace {

FileVerdict MakeVerdict(const std::string& name, Verdict verdict) {
    FileVerdict v;
    v.name = name;
    v.verdict = verdict;
    return v;
}

bool Matches(const Bytes& content, uint32_t size, uint32_t crc, uint32_t skipOffset,
             uint32_t skipLength) {
    return content.size() == size && CrcWithSkip(content, skipOffset, skipLength) == crc;
}

// The applier's order: the file itself, then, when it exists but differs,
// the same name under the backup directory; the first matching variant wins.
FileVerdict CheckChanged(const PatchContents& patch, const CurrentRecord& r,
                         const TargetReader& read) {
    FileVerdict v = MakeVerdict(r.fileName, Verdict::kForeign);
    Bytes content;
    const FileRecordHeader& h = r.fileHeader;
    bool found = read(r.fileName, &content);
    if (found && Matches(content, h.newSize, h.newCrc, r.newSkipOffset, r.newSkipLength)) {
        v.verdict = Verdict::kAlreadyNew;
        return v;
    }
    for (int k = 0; k < h.sourceCount; ++k) {
        const SourceVariant& s = r.variants[k];
        for (int attempt = 0; attempt < 2; ++attempt) {
            std::string name = attempt == 0 ? s.sourceName : patch.backupName + "\\" + s.sourceName;
            if (!read(name, &content)) break;  // a missing file is not looked for in the backup
            found = true;
            if (!Matches(content, s.header.sourceSize, s.header.sourceCrc, s.skipOffset,
                         s.skipLength)) {
                continue;
            }
            Bytes rebuilt;
            std::string error;
            bool ok = DecodeChain(patch, r, k, content, &rebuilt, &error);
            v.verdict = ok ? Verdict::kRebuildable : Verdict::kRebuildFails;
            v.variant = k + 1;
            v.fromBackup = attempt == 1;
            v.detail = error;
            return v;
        }
    }
    if (h.fileFlags & kOptional) {
        v.verdict = Verdict::kOptionalSkip;
    } else if (!found) {
        v.verdict = Verdict::kMissing;
    }
    return v;
}

}  // namespace

std::vector<FileVerdict> CheckAgainstTarget(const PatchContents& patch, const TargetReader& read) {
    std::vector<FileVerdict> verdicts;
    Bytes content;
    for (const CurrentRecord& r : patch.records) {
        switch (r.kind) {
            case kFileRecord:
                verdicts.push_back(CheckChanged(patch, r, read));
                break;
            case kNewFileRecord:
                verdicts.push_back(MakeVerdict(
                    r.fileName, read(r.fileName, &content) ? Verdict::kReplace : Verdict::kCreate));
                break;
            case kObsoleteRecord:
                verdicts.push_back(MakeVerdict(
                    r.fileName, read(r.fileName, &content) ? Verdict::kRetire : Verdict::kAbsent));
                break;
            default:
                verdicts.push_back(MakeVerdict("", Verdict::kRegistry));
                break;
        }
    }
    return verdicts;
}

bool WouldApply(const std::vector<FileVerdict>& verdicts) {
    for (const FileVerdict& v : verdicts) {
        if (v.verdict == Verdict::kForeign || v.verdict == Verdict::kMissing ||
            v.verdict == Verdict::kRebuildFails) {
            return false;
        }
    }
    return true;
}

namespace {

// Per verdict, in the order of the enum: the id of verify --json, and the text
// a person reads.
struct VerdictWords {
    const char* id;
    const char* text;
};
constexpr VerdictWords kVerdictWords[] = {
    {"already_new", "already new"},
    {"rebuildable", "rebuildable"},
    {"rebuild_fails", "REBUILD FAILS"},
    {"foreign", "FOREIGN (matches no known version)"},
    {"missing", "MISSING (not found)"},
    {"optional_skipped", "optional, left alone (matches no known version)"},
    {"create", "new file, created"},
    {"replace", "new file, replaces the existing one (backed up)"},
    {"retire", "obsolete, moved into the backup"},
    {"absent", "obsolete, already absent"},
    {"registry", "registry changes (checked only on Windows)"},
};
static_assert(std::size(kVerdictWords) == static_cast<size_t>(Verdict::kRegistry) + 1);

}  // namespace

const char* VerdictText(Verdict verdict) { return kVerdictWords[static_cast<int>(verdict)].text; }
const char* VerdictId(Verdict verdict) { return kVerdictWords[static_cast<int>(verdict)].id; }
