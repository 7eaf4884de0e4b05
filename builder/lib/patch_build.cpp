#include "builder/lib/patch_build.h"

#include <algorithm>
#include <atomic>
#include <new>
#include <utility>

#include <libdeflate.h>
#include <zopfli/zopfli.h>

#include "builder/lib/parallel.h"
#include "builder/lib/patch_reader.h"
#include "builder/lib/source_match.h"
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

bool AnyMatch(const std::vector<std::string>& patterns, const std::string& name) {
    return std::any_of(patterns.begin(), patterns.end(),
                       [&](const std::string& p) { return MatchesPattern(p, name); });
}

uint8_t FileFlagsFor(const PatchSettings& s, const std::string& name) {
    if (AnyMatch(s.silentPatterns, name)) return kOptional | kSilent;
    if (AnyMatch(s.optionalPatterns, name)) return kOptional;
    return 0;
}

// One record as planned: a delta chain from old contents (possibly another
// file's), or a whole new file.
struct RecordPlan {
    std::string name;       // UTF-8, for messages
    std::string patchName;  // code page 950, as written
    const TreeFile* newer = nullptr;
    bool whole = false;                 // carried as a new-file record
    std::vector<const Bytes*> sources;  // one per variant, oldest first
    ChangedFile file;
};

// An old file that another file's delta may read instead of its own.
struct SourceCandidate {
    const Bytes* content;
    std::string patchName;
    // A file the patch retires: nothing checks it before, so reading it
    // makes the patch refuse a tree where it was modified.
    bool retired;
};

// Another source is encoded only when it holds clearly more of the new
// file's samples than the file's own old version does.
constexpr uint32_t kMinExtraHits = 2;
constexpr uint32_t kHitMarginShare = 4;
// ... and when it holds at least this share of them: a small file that
// matches a sliver of a large one is not worth a full search.
constexpr uint32_t kMinCoverShare = 4;
// Another file must halve the size to be worth the new dependency: a tree
// where it is already new, or was edited, or is missing, is refused.
constexpr size_t kSourceGainFactor = 2;

// A whole file's deflated size, not computed yet.
constexpr size_t kSizeUnknown = SIZE_MAX;

// Files larger than this are neither indexed nor looked up: the index keeps
// a sample of about every 32 bytes, which for files of gigabytes would take
// more memory than the search itself is allowed.
constexpr size_t kMaxIndexedBytes = 256u << 20;

class SourcePicker {
  public:
    // Candidates: the only old version of every changed file the patch
    // already verifies (not optional), and every retired file. With several
    // old trees each file's chain stays on its own name.
    SourcePicker(const std::vector<Tree>& oldTrees, const PatchSettings& s, const TreePlan& plan,
                 const std::vector<std::string>& changedNames,
                 const std::vector<std::string>& removedNames, unsigned jobs) {
        if (oldTrees.size() != 1) return;
        for (size_t i = 0; i < plan.changed.size(); ++i) {
            const PlannedChange& c = plan.changed[i];
            if (c.versions.size() == 1 && FileFlagsFor(s, c.name) == 0)
                Add(c.versions[0], changedNames[i], false);
        }
        for (size_t i = 0; i < plan.removed.size(); ++i) {
            auto found = oldTrees[0].find(plan.removed[i]);
            if (found != oldTrees[0].end()) Add(&found->second.content, removedNames[i], true);
        }
        // A lone changed file can only be its own source: nothing to index.
        if (candidates_.size() == 1 && !candidates_[0].retired) candidates_.clear();
        std::vector<const Bytes*> contents;
        for (const SourceCandidate& c : candidates_) contents.push_back(c.content);
        index_.Build(contents, jobs);
    }

    // Replaces *best (of compressed size *bestSize, built from `own`, or
    // null for a file carried whole) with a delta from another old file when
    // one is smaller by the rules above. True when it did. A file carried
    // whole may come with kSizeUnknown: it is compressed only if a delta is
    // not clearly smaller.
    bool Improve(const Bytes* own, const Bytes& newer, const EncodeOptions& options,
                 DeltaVariant* best, size_t* bestSize) const {
        if (newer.size() > kMaxIndexedBytes || (own != nullptr && own->size() > kMaxIndexedBytes))
            return false;
        auto other = [&](const SourceCandidate& c) { return c.content != own; };
        if (std::none_of(candidates_.begin(), candidates_.end(), other)) return false;
        uint32_t samples = 0;
        std::vector<uint32_t> hits = index_.Hits(newer, &samples);
        uint32_t ownHits = 0;
        auto ownEntry = std::find_if_not(candidates_.begin(), candidates_.end(), other);
        if (ownEntry != candidates_.end()) {
            ownHits = hits[ownEntry - candidates_.begin()];
        } else if (own != nullptr) {
            SourceIndex alone;
            alone.Build({own}, 1);
            ownHits = alone.Hits(newer, &samples)[0];
        }
        bool improved = false;
        for (bool retired : {false, true}) {
            size_t pick = candidates_.size();
            for (size_t id = 0; id < candidates_.size(); ++id) {
                const SourceCandidate& c = candidates_[id];
                if (c.retired != retired || c.content == own) continue;
                if (pick == candidates_.size() || hits[id] > hits[pick]) pick = id;
            }
            if (pick == candidates_.size() || hits[pick] * kMinCoverShare < samples ||
                hits[pick] < ownHits + ownHits / kHitMarginShare + kMinExtraHits) {
                continue;
            }
            const SourceCandidate& c = candidates_[pick];
            // With threads to spare a new file's whole size is taken while
            // its delta is searched: only a tiny delta makes it unneeded.
            const bool wholeAside = *bestSize == kSizeUnknown && options.threads > 1;
            DeltaVariant variant;
            bool encoded = false;
            size_t whole = kSizeUnknown;
            const std::function<void(size_t)> work = [&](size_t k) {
                std::string error;
                if (k == 0) {
                    encoded = EncodeSmallestDelta(*c.content, newer, options, &variant, &error);
                } else {
                    whole = DeflatedSizeAfter(options.context, newer);
                }
            };
            ParallelFor(wholeAside ? 2 : 1, 2, work, nullptr);
            if (wholeAside) *bestSize = whole;
            if (!encoded) continue;
            size_t size = CompressedDeltaSize(variant, options.context);
            if (*bestSize == kSizeUnknown &&
                size * kSourceGainFactor >= DeflatedSizeLowerBound(newer.size())) {
                *bestSize = DeflatedSizeAfter(options.context, newer);
            }
            if (size * kSourceGainFactor >= *bestSize) continue;
            variant.sourceName = c.patchName;
            *best = std::move(variant);
            *bestSize = size;
            improved = true;
        }
        return improved;
    }

    const Bytes* SourceOf(const std::string& patchName) const {
        for (const SourceCandidate& c : candidates_) {
            if (c.patchName == patchName) return c.content;
        }
        return nullptr;
    }

  private:
    void Add(const Bytes* content, const std::string& patchName, bool retired) {
        if (content->size() > kMaxIndexedBytes) return;
        candidates_.push_back(SourceCandidate{content, patchName, retired});
    }

    SourceIndex index_;
    std::vector<SourceCandidate> candidates_;
};

// `inFile`, when given, hears how many of the file's bytes to compare (its
// old versions and new content) are done.
bool EncodeChanged(const PlannedChange& change, const SourcePicker& picker, const PatchSettings& s,
                   const EncodeOptions& options, const std::function<void(uint64_t)>* inFile,
                   RecordPlan* record, std::string* error) {
    const Bytes& newer = change.newer->content;
    ChangedFile* file = &record->file;
    file->fileName = record->patchName;
    file->header.newCrc = CrcOfBuffer(newer.data(), newer.size(), kCrcStart);
    file->header.newSize = static_cast<uint32_t>(newer.size());
    file->header.newTime = s.stampTimes ? change.newer->dosTime : 0;
    file->header.fileFlags = FileFlagsFor(s, change.name);
    uint64_t before = 0;
    for (size_t k = 0; k < change.versions.size(); ++k) {
        const bool last = k + 1 == change.versions.size();
        const Bytes& to = last ? newer : *change.versions[k + 1];
        const uint64_t weight = change.versions[k]->size() + (last ? newer.size() : 0);
        const std::function<void(double)> onShare = [&](double share) {
            (*inFile)(before + static_cast<uint64_t>(static_cast<double>(weight) * share));
        };
        EncodeOptions step = options;
        step.onShare = inFile != nullptr ? &onShare : nullptr;
        DeltaVariant variant;
        if (!EncodeSmallestDelta(*change.versions[k], to, step, &variant, error)) {
            *error = change.name + ": " + *error;
            return false;
        }
        before += weight;
        record->sources.push_back(change.versions[k]);
        file->variants.push_back(std::move(variant));
    }
    if (file->variants.size() == 1) {
        size_t size = CompressedDeltaSize(file->variants[0], options.context);
        if (picker.Improve(change.versions[0], newer, options, &file->variants[0], &size)) {
            record->sources[0] = picker.SourceOf(file->variants[0].sourceName);
        }
    }
    return true;
}

// A new file travels whole unless a delta from an old file is smaller. Such
// a record is never optional: the file must arrive.
void PlanNewFile(const TreeFile& f, const SourcePicker& picker, const PatchSettings& s,
                 const EncodeOptions& options, RecordPlan* record) {
    record->whole = true;
    DeltaVariant variant;
    size_t size = kSizeUnknown;
    if (!picker.Improve(nullptr, f.content, options, &variant, &size)) return;
    record->whole = false;
    record->sources.push_back(picker.SourceOf(variant.sourceName));
    ChangedFile* file = &record->file;
    file->fileName = record->patchName;
    file->header.newCrc = CrcOfBuffer(f.content.data(), f.content.size(), kCrcStart);
    file->header.newSize = static_cast<uint32_t>(f.content.size());
    file->header.newTime = s.stampTimes ? f.dosTime : 0;
    file->variants.push_back(std::move(variant));
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

// libdeflate's strongest level parses near-optimally at a few MB per second:
// a payload of delta blocks comes out some 7 % smaller than zlib's best.
constexpr int kLibdeflateLevel = 12;
// Zopfli is slow (tens of microseconds per payload byte); it runs on its own
// only where that stays small beside comparing the files themselves, i.e.
// for a payload of at most this share of the old and new bytes compared.
constexpr uint64_t kZopfliPayloadShare = 512;

// On a small payload Zopfli's block splitter tries every split point of
// every block, which costs more than all else it does; beyond a few blocks
// that search rarely finds a smaller stream. Where Zopfli runs unasked such
// payloads take at most this many blocks.
constexpr size_t kSmallPayloadBytes = 16 * 1024;
constexpr int kSmallPayloadBlocks = 4;

// libdeflate's raw deflate of payload; empty when it fails.
Bytes Libdeflate(const Bytes& payload) {
    libdeflate_compressor* compressor = libdeflate_alloc_compressor(kLibdeflateLevel);
    if (compressor == nullptr) return Bytes();
    Bytes out(libdeflate_deflate_compress_bound(compressor, payload.size()));
    size_t size = libdeflate_deflate_compress(compressor, payload.data(), payload.size(),
                                              out.data(), out.size());
    libdeflate_free_compressor(compressor);
    out.resize(size);
    return out;
}

// The smaller of libdeflate's and, where it is asked for or cheap, Zopfli's
// body; false when deflate fails. Both libraries are built from their own
// sources on every platform, so each builder writes the same bytes.
bool Compress(const Bytes& payload, bool forceZopfli, uint64_t comparedBytes, Bytes* body) {
    *body = Libdeflate(payload);
    if (body->empty()) return false;
    if (forceZopfli || payload.size() * kZopfliPayloadShare <= comparedBytes) {
        ZopfliOptions options;
        ZopfliInitOptions(&options);
        if (!forceZopfli && payload.size() < kSmallPayloadBytes)
            options.blocksplittingmax = kSmallPayloadBlocks;
        unsigned char* out = nullptr;
        size_t outSize = 0;
        ZopfliCompress(&options, ZOPFLI_FORMAT_DEFLATE, payload.data(), payload.size(), &out,
                       &outSize);
        if (outSize < body->size()) body->assign(out, out + outSize);
        free(out);
    }
    return true;
}

// Reads the patch back and checks that every known version of every file
// (read from wherever its delta reads it) becomes the new content, and that
// new files arrive byte for byte.
bool CheckBuiltPatch(const Bytes& patchFile, const std::vector<RecordPlan>& records,
                     std::string* error) {
    PatchContents patch;
    if (!ReadPatch(patchFile, &patch, error)) {
        *error = "the written patch does not read back: " + *error;
        return false;
    }
    size_t next = 0;
    for (const CurrentRecord& r : patch.records) {
        if (r.kind != RecordKind::kFile && r.kind != RecordKind::kNewFile) continue;
        if (next >= records.size() || r.fileName != records[next].patchName ||
            (r.kind == RecordKind::kNewFile) != records[next].whole) {
            *error = "the written patch lists other files than planned";
            return false;
        }
        const RecordPlan& plan = records[next++];
        const Bytes& newer = plan.newer->content;
        if (plan.whole) {
            if (r.newFileHeader.dataLength != newer.size() ||
                !std::equal(newer.begin(), newer.end(), patch.payload.begin() + r.dataStart)) {
                *error = plan.name + ": the stored content differs";
                return false;
            }
            continue;
        }
        for (size_t k = 0; k < plan.sources.size(); ++k) {
            const Bytes& source = *plan.sources[k];
            const SourceVariant& v = r.variants[k];
            const DeltaVariant& written = plan.file.variants[k];
            if (v.sourceName !=
                    (written.sourceName.empty() ? plan.patchName : written.sourceName) ||
                v.header.sourceSize != source.size() ||
                v.header.sourceCrc != CrcOfBuffer(source.data(), source.size(), kCrcStart) ||
                !ChainRebuilds(patch, r, static_cast<int>(k), source, newer, error)) {
                *error = plan.name + ": version " + std::to_string(k + 1) +
                         " does not rebuild to the new file";
                return false;
            }
        }
    }
    if (next != records.size()) {
        *error = "the written patch misses planned files";
        return false;
    }
    return true;
}

// Files compared side by side share this much memory for their searches; a
// search takes up to this many bytes per byte of old and new content (a
// suffix array over both, and their copy). A file that would not fit beside
// one per thread is compared on its own, its layouts tried on every thread.
constexpr uint64_t kSharedSearchBytes = 1ull << 30;
constexpr uint64_t kSearchBytesPerByte = 5;
// Threads a file compared beside others tries its layouts on: more would
// hold more candidate deltas at once for little gain.
constexpr unsigned kTrialThreads = 4;

// One record's encoding as its worker leaves it, and how far it is for the
// progress line (written by the worker, read by the waiting thread).
struct RecordWork {
    uint64_t weight = 0;  // old versions and new content, in bytes
    std::atomic<uint64_t> done{0};
    std::atomic<int> state{kWaiting};
    bool ok = false;
    std::string error;

    static constexpr int kWaiting = 0, kRunning = 1, kFinished = 2;
};

void EncodeRecord(const TreePlan& plan, const SourcePicker& picker, const PatchSettings& s,
                  const EncodeOptions& options, bool report, size_t i, RecordPlan* record,
                  RecordWork* out) {
    out->state = RecordWork::kRunning;
    // Within a file the encoder tells how far it is; a later search of the
    // same bytes (another source tried) does not move the count back.
    const std::function<void(uint64_t)> inFile = [&](uint64_t done) {
        // Several threads may tell (a file's pieces): the count only grows.
        uint64_t seen = out->done.load();
        while (done > seen && !out->done.compare_exchange_weak(seen, done)) {
        }
    };
    try {
        if (i < plan.changed.size()) {
            out->ok = EncodeChanged(plan.changed[i], picker, s, options, report ? &inFile : nullptr,
                                    record, &out->error);
        } else {
            PlanNewFile(*plan.added[i - plan.changed.size()].file, picker, s, options, record);
            out->ok = true;
        }
    } catch (const std::bad_alloc&) {
        out->ok = false;
        out->error = record->name + ": not enough memory to compare the versions of this file";
    }
    out->done = out->weight;
    out->state = RecordWork::kFinished;
}

// The progress line while records are encoded: the first file being
// compared (else the first still waiting), and the bytes of every file so far.
void ReportProgress(const std::vector<RecordPlan>& records, const std::vector<RecordWork>& work,
                    BuildProgressEvent* event, const BuildProgress& progress) {
    uint64_t done = 0;
    size_t running = records.size(), waiting = records.size();
    for (size_t i = 0; i < records.size(); ++i) {
        done += work[i].done.load();
        const int state = work[i].state.load();
        if (state == RecordWork::kRunning && running == records.size()) running = i;
        if (state == RecordWork::kWaiting && waiting == records.size()) waiting = i;
    }
    if (records.empty()) return;
    size_t shown = running < records.size() ? running : waiting;
    if (shown == records.size()) shown = records.size() - 1;
    event->file = shown;
    event->files = records.size();
    event->name = &records[shown].name;
    // A file that restarts its count (another source searched) never moves
    // the line back.
    if (done > event->done) event->done = done;
    progress(*event);
}

}  // namespace

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

namespace {

// The applier's limits for its ANSI file calls (engine/name_checks.cpp): a
// path shorter than MAX_PATH, its directory shorter than MAX_PATH - 12.
constexpr size_t kWindowsMaxPath = 260;
constexpr size_t kDirectoryPathLimit = kWindowsMaxPath - 12;
const char kLongestStagingName[] = "PATCH9999.TMP";
const char kStagingWorkFile[] = "BINTMP1.TMP";

// Room left for the folder T in T\relative.
size_t RoomFor(const std::string& relative) {
    const size_t separator = relative.rfind('\\');
    const size_t directory = separator == std::string::npos ? 0 : separator + 1;
    // T + '\' + relative < 260, and T + '\' + its directory part < 248.
    const size_t byPath =
        relative.size() + 2 > kWindowsMaxPath ? 0 : kWindowsMaxPath - 2 - relative.size();
    const size_t byDirectory =
        directory + 1 > kDirectoryPathLimit ? 0 : kDirectoryPathLimit - 1 - directory;
    return std::min(byPath, byDirectory);
}

}  // namespace

size_t InstallFolderRoom(const std::string& backupCp950, const std::string& fileCp950) {
    const std::string staging = kLongestStagingName;
    size_t room = RoomFor(fileCp950);
    for (const std::string& path : {backupCp950 + "\\" + fileCp950, staging + "\\" + fileCp950,
                                    staging + "\\" + kStagingWorkFile}) {
        room = std::min(room, RoomFor(path));
    }
    return room;
}

bool PlanPatch(const std::vector<Tree>& oldTrees, const Tree& newTree,
               const PatchSettings& settings, PatchPlan* out, std::string* error) {
    *out = PatchPlan{};
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
    if (!settings.registry.empty() && settings.registryCheck.rootKey == 0) {
        *error = "registry changes need the registered-software check (a root key, key and value)";
        return false;
    }
    // The trees first: they report every bad name at once.
    TreePlan& plan = out->tree;
    if (!PlanTrees(oldTrees, newTree, settings.keepObsolete, &plan, error) ||
        !CheckBackupDirectory(settings.backupName, oldTrees, newTree, error) ||
        !PatchName(settings.backupName, &out->backupName, error)) {
        return false;
    }
    for (const auto& c : plan.changed) {
        if (c.versions.size() > kMaxSourceVariants) {
            *error = c.name + ": " + std::to_string(c.versions.size()) +
                     " distinct old versions; a patch can carry at most " +
                     std::to_string(kMaxSourceVariants);
            return false;
        }
        out->changedNames.emplace_back();
        if (!PatchName(c.name, &out->changedNames.back(), error)) return false;
        for (const Bytes* v : c.versions) out->bytesToCompare += v->size();
        out->bytesToCompare += c.newer->content.size();
        out->newBytes += c.newer->content.size();
    }
    for (const auto& a : plan.added) {
        out->addedNames.emplace_back();
        if (!PatchName(a.name, &out->addedNames.back(), error)) return false;
        out->bytesToCompare += a.file->content.size();
        out->newBytes += a.file->content.size();
    }
    for (const auto& r : plan.removed) {
        out->removedNames.emplace_back();
        if (!PatchName(r, &out->removedNames.back(), error)) return false;
    }
    for (const auto* names : {&out->changedNames, &out->addedNames, &out->removedNames}) {
        for (const std::string& name : *names) {
            size_t room = InstallFolderRoom(out->backupName, name);
            if (out->tightestPath.empty() || room < out->installFolderRoom) {
                out->tightestPath = name;
                out->installFolderRoom = room;
            }
        }
    }
    return true;
}

bool BuildPatch(const std::vector<Tree>& oldTrees, const Tree& newTree,
                const PatchSettings& settings, const Bytes& stub, const BuildProgress& progress,
                Bytes* patch, BuildSummary* summary, std::string* error) {
    *summary = BuildSummary{};
    PatchPlan planned;
    if (!PlanPatch(oldTrees, newTree, settings, &planned, error)) return false;
    const TreePlan& plan = planned.tree;
    const std::string& backupName = planned.backupName;
    const std::vector<std::string>& changedNames = planned.changedNames;
    const std::vector<std::string>& addedNames = planned.addedNames;
    const std::vector<std::string>& removedNames = planned.removedNames;
    BuildProgressEvent event;
    event.total = planned.bytesToCompare;

    const unsigned jobs = settings.jobs == 0 ? AvailableCores() : settings.jobs;
    SourcePicker picker(oldTrees, settings, plan, changedNames, removedNames, jobs);
    RecordStreamWriter stream;
    stream.Location(settings.location);
    stream.BackupName(backupName);
    // What stands where the new version has the other of file and directory
    // goes into the backup before the changed and new files arrive.
    for (size_t i = 0; i < plan.retiredFirst; ++i) stream.Obsolete(removedNames[i]);
    // Records are encoded in parallel, so a record cannot be ranked against
    // the records before it: every one is ranked against the stream's start
    // alone, which keeps the patch the same for any number of threads.
    const Bytes streamStart = stream.bytes();
    EncodeOptions options = settings.encode;
    options.context = &streamStart;
    std::vector<RecordPlan> records(plan.changed.size() + plan.added.size());
    std::vector<RecordWork> work(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        RecordPlan& record = records[i];
        if (i < plan.changed.size()) {
            const PlannedChange& c = plan.changed[i];
            record.name = c.name;
            record.patchName = changedNames[i];
            record.newer = c.newer;
            for (const Bytes* v : c.versions) work[i].weight += v->size();
        } else {
            const size_t a = i - plan.changed.size();
            record.name = plan.added[a].name;
            record.patchName = addedNames[a];
            record.newer = plan.added[a].file;
        }
        work[i].weight += record.newer->content.size();
    }
    // Small files are compared several at once, the largest first so that
    // no long one starts last. Large ones follow one at a time, each trying
    // its layouts on every thread: their searches would not fit side by side.
    std::vector<size_t> small, large;
    for (size_t i = 0; i < records.size(); ++i) {
        const bool alone = work[i].weight * kSearchBytesPerByte * jobs > kSharedSearchBytes;
        (alone ? large : small).push_back(i);
    }
    std::stable_sort(small.begin(), small.end(),
                     [&](size_t a, size_t b) { return work[a].weight > work[b].weight; });
    const std::function<void()> tick = [&] { ReportProgress(records, work, &event, progress); };
    const std::function<void()>* ticking = progress ? &tick : nullptr;
    const bool report = static_cast<bool>(progress);
    // Each file also tries its layouts on a few threads, so that the last
    // long file of a tree, or a lone one, does not leave cores idle.
    EncodeOptions shared = options;
    shared.threads = std::min(jobs, kTrialThreads);
    const std::function<void(size_t)> encodeSmall = [&](size_t k) {
        EncodeRecord(plan, picker, settings, shared, report, small[k], &records[small[k]],
                     &work[small[k]]);
    };
    ParallelFor(small.size(), jobs, encodeSmall, ticking);
    // A file that failed beside others may have run out of memory (a 32-bit
    // builder has little): it is tried again alone, which gives the same
    // delta where it succeeds.
    for (size_t i : small) {
        if (work[i].ok) continue;
        records[i].whole = false;
        records[i].sources.clear();
        records[i].file = ChangedFile();
        work[i].done = 0;
        large.push_back(i);
    }
    EncodeOptions alone = options;
    alone.threads = jobs;
    for (size_t i : large) {
        const std::function<void(size_t)> encodeLarge = [&](size_t) {
            EncodeRecord(plan, picker, settings, alone, report, i, &records[i], &work[i]);
        };
        ParallelFor(1, 1, encodeLarge, ticking);
    }
    for (size_t i = 0; i < records.size(); ++i) {
        if (!work[i].ok) {
            *error = work[i].error;
            return false;
        }
        const RecordPlan& record = records[i];
        if (i < plan.changed.size()) {
            for (const Bytes* v : plan.changed[i].versions) summary->oldBytes += v->size();
        }
        summary->newBytes += record.newer->content.size();
        if (record.whole) {
            stream.NewFile(record.patchName, record.newer->content,
                           settings.stampTimes ? record.newer->dosTime : 0);
        } else {
            stream.Changed(record.file);
        }
    }
    for (size_t i = plan.retiredFirst; i < removedNames.size(); ++i) {
        stream.Obsolete(removedNames[i]);
    }
    if (!settings.registry.empty()) {
        Bytes script;
        if (!RegistryScript(settings, &script, &summary->registryValues, error)) return false;
        stream.Registry(script);
    }
    stream.End();
    // The rest (compression, reading every file back) has no file of its own.
    event.file = records.size();
    event.name = nullptr;
    event.done = event.total;
    if (progress) progress(event);

    Bytes notice(settings.notice.begin(), settings.notice.end());
    Bytes description(settings.description.begin(), settings.description.end());
    Bytes payload = BuildPayload(notice, description, stream.bytes());
    Bytes body;
    if (getenv("DUMP_PAYLOAD")) {
        FILE* f = fopen(getenv("DUMP_PAYLOAD"), "wb");
        fwrite(payload.data(), 1, payload.size(), f);
        fclose(f);
    }
    if (!Compress(payload, settings.zopfli, summary->oldBytes + summary->newBytes, &body)) {
        *error = "the payload cannot be compressed";
        return false;
    }
    Bytes file =
        FramePatchBody(stub, body, payload, static_cast<uint16_t>(settings.notice.size()),
                       static_cast<uint16_t>(settings.description.size()), kBuilderFileOptions);
    if (!CheckBuiltPatch(file, records, error)) return false;
    summary->changed = plan.changed.size();
    summary->added = plan.added.size();
    summary->removed = plan.removed.size();
    summary->payloadBytes = payload.size();
    summary->patchBytes = file.size();
    summary->stubBytes = stub.size();
    *patch = std::move(file);
    return true;
}
