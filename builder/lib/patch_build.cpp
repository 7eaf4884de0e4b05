#include "builder/lib/patch_build.h"

#include <algorithm>

#ifdef HAVE_ZOPFLI
#include <zopfli/zopfli.h>
#endif

#include "builder/lib/patch_reader.h"
#include "builder/lib/text_cp950.h"
#include "core/crc.h"
#include "core/payload_layout.h"
#include "core/record_reader.h"
#include "core/windows_names.h"

namespace {

// What the builder writes: aligned so a signed patch keeps its trailer in
// front of the certificate table.
const PatchFileOptions kBuilderFileOptions = [] {
    PatchFileOptions options;
    options.alignToEight = true;
    return options;
}();

constexpr int kBestLevel = 9;

bool AnyMatch(const std::vector<std::string>& patterns, const std::string& name) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& p) { return MatchesPattern(p, name); });
}

uint8_t FileFlagsFor(const PatchSettings& s, const std::string& name) {
    if (AnyMatch(s.silentPatterns, name)) return kOptional | kSilent;
    if (AnyMatch(s.optionalPatterns, name)) return kOptional;
    return 0;
}

bool EncodeChanged(const PlannedChange& change, const std::string& name, const PatchSettings& s,
                   ChangedFile* file, std::string* error) {
    const Bytes& newer = change.newer->content;
    file->fileName = name;
    file->header.newCrc = CrcOfBuffer(newer.data(), newer.size(), kCrcStart);
    file->header.newSize = static_cast<uint32_t>(newer.size());
    file->header.newTime = s.stampTimes ? change.newer->dosTime : 0;
    file->header.fileFlags = FileFlagsFor(s, change.name);
    for (size_t k = 0; k < change.versions.size(); ++k) {
        const Bytes& to = k + 1 < change.versions.size() ? *change.versions[k + 1] : newer;
        DeltaVariant variant;
        if (!EncodeSmallestDelta(*change.versions[k], to, s.encode, &variant, error)) {
            *error = change.name + ": " + *error;
            return false;
        }
        file->variants.push_back(std::move(variant));
    }
    return true;
}

bool RegistryScript(const PatchSettings& s, Bytes* script, size_t* values, std::string* error) {
    RegistryScriptWriter writer(s.registryCheck.rootKey, s.registryCheck.keyPath,
                                s.registryCheck.valueName);
    for (const RegKey& key : s.registry) {
        writer.OpenKey(key.rootKey, key.path);
        for (const RegValue& value : key.values) {
            if (value.data.size() > kRegistryDataCapacity) {
                *error = "registry value \"" + value.name + "\" holds " +
                         std::to_string(value.data.size()) + " bytes; at most " +
                         std::to_string(kRegistryDataCapacity) + " can be written";
                return false;
            }
            writer.SetValue(value.name, value.type, value.data);
            ++*values;
        }
    }
    *script = writer.Finish();
    return true;
}

bool Compress(const Bytes& payload, bool zopfli, Bytes* body) {
#ifdef HAVE_ZOPFLI
    if (zopfli) {
        ZopfliOptions options;
        ZopfliInitOptions(&options);
        unsigned char* out = nullptr;
        size_t outSize = 0;
        ZopfliCompress(&options, ZOPFLI_FORMAT_DEFLATE, payload.data(), payload.size(), &out,
                       &outSize);
        body->assign(out, out + outSize);
        free(out);
        return true;
    }
#endif
    if (zopfli) return false;
    *body = RawDeflate(payload, kBestLevel);
    return true;
}

// Reads the patch back and checks that every known version of every file
// becomes the new content, and that new files arrive byte for byte.
bool CheckBuiltPatch(const Bytes& patchFile, const TreePlan& plan,
                     const std::vector<std::string>& changedNames,
                     const std::vector<std::string>& addedNames, std::string* error) {
    PatchContents patch;
    if (!ReadPatch(patchFile, &patch, error)) {
        *error = "the written patch does not read back: " + *error;
        return false;
    }
    size_t changed = 0, added = 0;
    for (const CurrentRecord& r : patch.records) {
        if (r.kind == kFileRecord) {
            if (changed >= plan.changed.size() || r.fileName != changedNames[changed]) {
                *error = "the written patch lists other changed files than planned";
                return false;
            }
            const PlannedChange& c = plan.changed[changed++];
            for (size_t k = 0; k < c.versions.size(); ++k) {
                const Bytes& source = *c.versions[k];
                Bytes rebuilt;
                const VariantHeader& vh = r.variants[k].header;
                if (vh.sourceSize != source.size() ||
                    vh.sourceCrc != CrcOfBuffer(source.data(), source.size(), kCrcStart) ||
                    !DecodeChain(patch, r, static_cast<int>(k), source, &rebuilt, error) ||
                    rebuilt != c.newer->content) {
                    *error = c.name + ": version " + std::to_string(k + 1) +
                             " does not rebuild to the new file";
                    return false;
                }
            }
        } else if (r.kind == kNewFileRecord) {
            if (added >= plan.added.size() || r.fileName != addedNames[added]) {
                *error = "the written patch lists other new files than planned";
                return false;
            }
            const Bytes& content = plan.added[added++].file->content;
            if (r.newFileHeader.dataLength != content.size() ||
                !std::equal(content.begin(), content.end(), patch.payload.begin() + r.dataStart)) {
                *error = addedNames[added - 1] + ": the stored content differs";
                return false;
            }
        }
    }
    if (changed != plan.changed.size() || added != plan.added.size()) {
        *error = "the written patch misses planned files";
        return false;
    }
    return true;
}

}  // namespace

bool ZopfliAvailable() {
#ifdef HAVE_ZOPFLI
    return true;
#else
    return false;
#endif
}

bool PatchName(const std::string& utf8Name, std::string* cp950, std::string* error) {
    std::string what;
    size_t bad = 0;
    if (!Utf8ToCp950(utf8Name, cp950, &bad, &what)) {
        *error = "file name \"" + utf8Name + "\": " + what;
        return false;
    }
    if (HasSeparatorTrailByte(*cp950)) {
        *error = "file name \"" + utf8Name +
                 "\": a character's code page 950 form holds a '\\' byte, which the applier "
                 "would take for a directory separator";
        return false;
    }
    std::replace(cp950->begin(), cp950->end(), '/', '\\');
    if (cp950->size() > kShortStringMax) {
        *error = "file name \"" + utf8Name + "\" is longer than 255 bytes in code page 950";
        return false;
    }
    NameProblem problem = CheckPatchPath(*cp950);
    if (problem != NameProblem::kNone) {
        *error = "file name \"" + utf8Name + "\" " + DescribeNameProblem(problem);
        return false;
    }
    return true;
}

bool BuildPatch(const std::vector<Tree>& oldTrees, const Tree& newTree,
                const PatchSettings& settings, const Bytes& stub, const BuildProgress& progress,
                Bytes* patch, BuildSummary* summary, std::string* error) {
    *summary = BuildSummary{};
    if (settings.notice.size() > kNoticeCapacity) {
        *error = "the notice holds " + std::to_string(settings.notice.size()) +
                 " bytes in code page 950; at most " + std::to_string(kNoticeCapacity) + " fit";
        return false;
    }
    if (settings.description.size() > kDescriptionCapacity) {
        *error = "the description holds " + std::to_string(settings.description.size()) +
                 " bytes in code page 950; at most " + std::to_string(kDescriptionCapacity) +
                 " fit";
        return false;
    }
    std::string backupName;
    if (!CheckBackupDirectory(settings.backupName, oldTrees, newTree, error) ||
        !PatchName(settings.backupName, &backupName, error)) {
        return false;
    }
    if (!settings.registry.empty() && settings.registryCheck.rootKey == 0) {
        *error = "registry changes need the registered-software check (a root key, key and value)";
        return false;
    }
    if (settings.zopfli && !ZopfliAvailable()) {
        *error = "this build has no zopfli";
        return false;
    }
    TreePlan plan;
    if (!PlanTrees(oldTrees, newTree, settings.keepObsolete, &plan, error)) return false;
    std::vector<std::string> changedNames, addedNames, removedNames;
    for (const auto& c : plan.changed) {
        if (c.versions.size() > kMaxSourceVariants) {
            *error = c.name + ": " + std::to_string(c.versions.size()) +
                     " distinct old versions; a patch can carry at most " +
                     std::to_string(kMaxSourceVariants);
            return false;
        }
        changedNames.emplace_back();
        if (!PatchName(c.name, &changedNames.back(), error)) return false;
    }
    for (const auto& a : plan.added) {
        addedNames.emplace_back();
        if (!PatchName(a.name, &addedNames.back(), error)) return false;
    }
    for (const auto& r : plan.removed) {
        removedNames.emplace_back();
        if (!PatchName(r, &removedNames.back(), error)) return false;
    }

    RecordStreamWriter stream;
    stream.Location(settings.location);
    stream.BackupName(backupName);
    for (size_t i = 0; i < plan.changed.size(); ++i) {
        const PlannedChange& c = plan.changed[i];
        if (progress) progress(i, plan.changed.size(), c.name);
        ChangedFile file;
        if (!EncodeChanged(c, changedNames[i], settings, &file, error)) return false;
        stream.Changed(file);
        for (const Bytes* v : c.versions) summary->oldBytes += v->size();
        summary->newBytes += c.newer->content.size();
    }
    for (size_t i = 0; i < plan.added.size(); ++i) {
        const TreeFile& f = *plan.added[i].file;
        stream.NewFile(addedNames[i], f.content, settings.stampTimes ? f.dosTime : 0);
        summary->newBytes += f.content.size();
    }
    for (const std::string& name : removedNames) stream.Obsolete(name);
    if (!settings.registry.empty()) {
        Bytes script;
        if (!RegistryScript(settings, &script, &summary->registryValues, error)) return false;
        stream.Registry(script);
    }
    stream.End();

    Bytes notice(settings.notice.begin(), settings.notice.end());
    Bytes description(settings.description.begin(), settings.description.end());
    Bytes payload = BuildPayload(notice, description, stream.bytes());
    Bytes body;
    if (!Compress(payload, settings.zopfli, &body)) {
        *error = "the payload cannot be compressed";
        return false;
    }
    Bytes file =
        FramePatchBody(stub, body, payload, static_cast<uint16_t>(settings.notice.size()),
                       static_cast<uint16_t>(settings.description.size()), kBuilderFileOptions);
    if (!CheckBuiltPatch(file, plan, changedNames, addedNames, error)) return false;
    summary->changed = plan.changed.size();
    summary->added = plan.added.size();
    summary->removed = plan.removed.size();
    summary->payloadBytes = payload.size();
    summary->patchBytes = file.size();
    summary->stubBytes = stub.size();
    *patch = std::move(file);
    return true;
}
