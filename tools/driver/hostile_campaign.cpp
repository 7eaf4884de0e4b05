// Hostile and damaged patches through the real patch executable: every kind
// of bad name in every place, names that meet, a damaged download, damaged
// fields. Each variant gets a fresh target beside a sentinel directory.
//
//   hostile_campaign make DIR [STRIDE]  writes every STRIDE-th variant below DIR
//   hostile_campaign run DIR            runs them, prints one line each and the counts
//
// tools/hostile-campaign.sh makes, adds the directory links a Windows program
// cannot make under Wine, and runs. Exit code 0 when no run broke a rule.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>

#include "builder/lib/delta_encoder.h"
#include "core/crc.h"
#include "core/payload_layout.h"
#include "messages/catalogue.h"
#include "tools/driver/file_tree.h"
#include "tools/driver/running_patch.h"
#include "tools/driver/window_probe.h"

namespace {

constexpr char kBackup[] = "BACKUP";
constexpr char kSuccessLine[] = "OK，中文化檔套用完成！";
constexpr DWORD kRunLimitMs = 30000;

const Bytes kApp = PseudoRandomBytes(6000, 11);
const Bytes kNewApp = ScatteredChange(kApp, 301);
const Bytes kText = TextBytes("a text of the old version, long enough to be worth a delta");
const Bytes kNewText = TextBytes("a text of the new version, long enough to be worth a delta!");
const Bytes kAdded = TextBytes("a file the patch adds");
const Bytes kLong = TextBytes("behind a long name");
const char kLongDirectory[] = "Long Directory Name";
const char kLongFile[] = "Long Directory Name\\long file name.txt";

const FileTree kOldTree = {{"app.exe", kApp},
                           {"data\\", {}},
                           {"data\\text.txt", kText},
                           {"gone.txt", TextBytes("retired")},
                           {"Long Directory Name\\", {}},
                           {kLongFile, kLong}};
const FileTree kNewTree = {{"app.exe", kNewApp},
                           {"data\\", {}},
                           {"data\\text.txt", kNewText},
                           {"data\\added.txt", kAdded},
                           {"Long Directory Name\\", {}},
                           {kLongFile, kLong},
                           {"BACKUP\\", {}},
                           {"BACKUP\\app.exe", kApp},
                           {"BACKUP\\data\\", {}},
                           {"BACKUP\\data\\text.txt", kText},
                           {"BACKUP\\gone.txt", TextBytes("retired")}};
const FileTree kSentinel = {{"keep.txt", TextBytes("outside the target")},
                            {"tree\\", {}},
                            {"tree\\text.txt", kText},
                            {"tree\\gone.txt", TextBytes("retired")},
                            {"stage\\", {}},  // holds only names the patch carries
                            {"stage\\app.exe", kApp},
                            {"stage\\gone.txt", TextBytes("retired")}};

ChangedFile Change(const std::string& name, const Bytes& from, const Bytes& to) {
    ChangedFile file;
    file.fileName = name;
    file.header.newCrc = CrcOfBuffer(to.data(), to.size(), kCrcStart);
    file.header.newSize = static_cast<uint32_t>(to.size());
    file.variants.push_back(EncodeDelta(from, to, EncodeOptions{}));
    return file;
}

// The good patch, and the places a hostile name can take in it.
struct Shape {
    std::string backup = kBackup;
    std::vector<std::function<void(RecordStreamWriter&)>> extra;  // behind the good records
    std::string changedSource;  // SourceName of app.exe's variant; empty = its FileName
};

Bytes Records(const Shape& shape) {
    RecordStreamWriter w;
    w.Location(LocationSpec{});
    w.BackupName(shape.backup);
    ChangedFile app = Change("app.exe", kApp, kNewApp);
    app.variants[0].sourceName = shape.changedSource;
    w.Changed(app);
    w.Changed(Change("data\\text.txt", kText, kNewText));
    w.NewFile("data\\added.txt", kAdded);
    w.Obsolete("gone.txt");
    for (const auto& add : shape.extra) add(w);
    w.End();
    return w.bytes();
}

struct Variant {
    std::string label;
    std::string expect;  // old, new or either
    Bytes file;          // the patch executable
    std::string link;    // "name-in-target<TAB>what it points to", made by the script
};

Bytes PatchOf(const Bytes& stub, const Bytes& records, const PatchFileOptions& options = {}) {
    const Bytes notice = TextBytes("campaign");
    return BuildPatchFile(stub, BuildPayload(notice, Bytes(), records),
                          static_cast<uint16_t>(notice.size()), 0, options);
}

uint32_t NextRandom(uint32_t* state) {
    *state = *state * 1664525u + 1013904223u;
    return *state >> 8;
}

std::vector<Variant> AllVariants(const Bytes& stub, const std::string& directoryAlias,
                                 const std::string& fileAlias) {
    std::vector<Variant> v;
    auto add = [&](const std::string& label, const std::string& expect, const Shape& shape) {
        v.push_back({label, expect, PatchOf(stub, Records(shape)), ""});
    };
    add("good patch", "new", Shape{});

    const std::string badNames[] = {"nul.txt",
                                    "NUL",
                                    "con",
                                    "Con.txt",
                                    "prn.log",
                                    "aux",
                                    "com1",
                                    "COM9.dat",
                                    "lpt1",
                                    "LPT9.txt",
                                    "conin$",
                                    "CONOUT$.x",
                                    "clock$",
                                    "data\\nul",
                                    "nul\\x.txt",
                                    "aux .txt",
                                    "a.txt.",
                                    "a.txt ",
                                    "dir.\\x",
                                    "a<b",
                                    "a>b",
                                    "a:b",
                                    "a\"b",
                                    "a|b",
                                    "a?b",
                                    "a*b",
                                    "a\x01"
                                    "b",
                                    "a\x1f",
                                    "\\lead",
                                    "trail\\",
                                    "a\\\\b",
                                    ".",
                                    "..",
                                    "..\\x",
                                    "x\\..\\..\\y",
                                    "C:\\x",
                                    "PATCH0.TMP",
                                    "patch1.tmp\\x",
                                    "BINTMP1.TMP",
                                    "bintmp2.tmp",
                                    "\xA4",
                                    "\x80x"};
    for (const std::string& bad : badNames) {
        Shape s;
        s.backup = bad;
        add("backup " + bad, "old", s);
        s = Shape{};
        s.changedSource = bad;
        add("source " + bad, "old", s);
        s = Shape{};
        s.extra.push_back([bad](RecordStreamWriter& w) { w.Changed(Change(bad, kApp, kNewApp)); });
        add("changed " + bad, "old", s);
        s.extra = {[bad](RecordStreamWriter& w) { w.NewFile(bad, kAdded); }};
        add("new " + bad, "old", s);
        s.extra = {[bad](RecordStreamWriter& w) { w.Obsolete(bad); }};
        add("obsolete " + bad, "old", s);
    }

    // Names that meet: a later record names a file of the good patch.
    const std::pair<std::string, std::string> meeting[] = {
        {"\xA3\x5D"
         "eta.txt",
         "\xA3\x45"
         "eta.txt"},                       // Greek small and capital beta
        {"\xA2\xE9.txt", "\xA2\xCF.txt"},  // full-width a and A
        {"data\\added.txt", "DATA\\ADDED.TXT"},
        {"data\\added.txt", "data/added.txt"},
        {"app.exe", "App.Exe"},
        {"gone.txt", "GONE.TXT"},
        {kLongFile, fileAlias},
        {kLongFile, directoryAlias + "\\LONG FILE NAME.TXT"},
    };
    for (const auto& [first, second] : meeting) {
        for (int kinds = 0; kinds < 3; ++kinds) {
            Shape s;
            const std::string a = first, b = second;
            s.extra.push_back([a, b, kinds](RecordStreamWriter& w) {
                if (kinds == 2) {
                    w.Changed(Change(a, kLong, kAdded));
                } else {
                    w.NewFile(a, kAdded);
                }
                if (kinds == 1) {
                    w.NewFile(b, kAdded);
                } else {
                    w.Obsolete(b);
                }
            });
            add("meet " + a + " / " + b + " kinds " + std::to_string(kinds), "old", s);
        }
    }

    // Backup directories on, above or below a file, or too long.
    const std::string backups[] = {"app.exe",
                                   "APP.EXE",
                                   "data",
                                   "data\\text.txt\\b",
                                   "data\\added.txt",
                                   "Gone.txt",
                                   "patch7.TMP",
                                   std::string(255, 'b'),
                                   std::string(230, 'b'),
                                   std::string(120, 'b') + "\\" + std::string(120, 'c')};
    for (const std::string& backup : backups) {
        Shape s;
        s.backup = backup;
        add("backup meets " + backup.substr(0, 40), "old", s);
    }
    // Inside a tree directory beside its files, or an existing directory no
    // record names (here by its 8.3 alias): a backup like any other.
    for (const std::string& backup : {std::string("DATA\\x"), directoryAlias}) {
        Shape s;
        s.backup = backup;
        add("backup in " + backup, "either", s);
    }
    for (size_t length : {180u, 220u, 250u}) {
        Shape s;
        const std::string name = std::string(length, 'd') + "\\n.txt";
        s.extra.push_back([name](RecordStreamWriter& w) { w.NewFile(name, kAdded); });
        add("new file of " + std::to_string(length) + " bytes", "old", s);
    }

    // Directory links below the target, made by the script.
    const std::pair<std::string, std::string> links[] = {
        {"BACKUP", "..\\sentinel"},
        {"data", "..\\sentinel\\tree"},
        {"BACKUP", "..\\sentinel\\tree"},
    };
    for (const auto& [name, to] : links) {
        v.push_back({"link " + name + " -> " + to, "old", PatchOf(stub, Records(Shape{})),
                     name + "\t" + to});
    }
    // A link named like a leftover staging directory is no leftover of ours:
    // it stays, and so does what it leads to.
    v.push_back({"link PATCH3.TMP -> ..\\sentinel\\stage", "either",
                 PatchOf(stub, Records(Shape{})), "PATCH3.TMP\t..\\sentinel\\stage"});

    // A damaged download: bytes of the body changed, the file cut.
    const Bytes good = PatchOf(stub, Records(Shape{}));
    PatchFileOptions level0;
    level0.level = 0;  // stored deflate blocks inflate whatever their data holds
    const Bytes stored = PatchOf(stub, Records(Shape{}), level0);
    const size_t bodyAt = stub.size() + kPatchHeaderSize;
    uint32_t state = 9;
    for (int i = 0; i < 60; ++i) {
        const Bytes& base = i % 2 ? good : stored;
        Bytes damaged = base;
        const size_t bodyLength = base.size() - bodyAt - kPayloadTrailerSize;
        damaged[bodyAt + NextRandom(&state) % bodyLength] ^= uint8_t(1 + NextRandom(&state) % 255);
        v.push_back({"body byte " + std::to_string(i), "old", damaged, ""});
    }
    // Cut inside the payload: a cut into the program image is no program at all.
    for (size_t cut : {size_t(1), size_t(100), good.size() - stub.size() - 1}) {
        Bytes damaged(good.begin(), good.end() - cut);
        v.push_back({"cut " + std::to_string(cut), "old", damaged, ""});
    }
    // Header and trailer fields. Without the tag a patch is taken as before.
    const size_t headerAt = stub.size();
    auto field = [&](const std::string& label, size_t at, uint8_t value, const char* expect) {
        Bytes damaged = good;
        damaged[at] = value;
        v.push_back({label, expect, damaged, ""});
    };
    field("header magic", headerAt, 0, "old");
    field("flags", headerAt + 9, 0, "old");
    field("integrity tag", headerAt + 10, 'X', "new");
    field("integrity length", headerAt + 14, 0x55, "old");
    field("integrity CRC", headerAt + 18, 0x55, "old");
    field("notice length", headerAt + 75, 0xFF, "old");
    field("trailer length", good.size() - 8, 0x01, "old");
    field("trailer magic", good.size() - 1, 0, "old");

    // A careless builder: fields of the records damaged, the integrity record
    // made for the damaged payload.
    // A new file is carried without a CRC value: its bytes stay as they are.
    const Bytes records = Records(Shape{});
    const size_t addedAt =
        std::search(records.begin(), records.end(), kAdded.begin(), kAdded.end()) - records.begin();
    for (size_t at = 0; at < records.size() && at < 400; at += 3) {
        if (at >= addedAt && at < addedAt + kAdded.size()) continue;
        Bytes damaged = records;
        damaged[at] ^= 0xA5;
        v.push_back({"record byte " + std::to_string(at), "either", PatchOf(stub, damaged), ""});
    }
    return v;
}

// The longest run of each failure message's text without a placeholder or
// blank: what a log line or box shows of it, whatever the placeholders held.
std::vector<std::string> FailureFragments() {
    std::vector<std::string> fragments;
    for (int n : {1, 7, 8, 10, 11, 12, 13, 14, 15, 16, 17, 30, 34, 38, 39, 40, 41, 42}) {
        const std::string text = MessageText(n);
        std::string best, word;
        for (size_t i = 0; i <= text.size(); ++i) {
            if (i == text.size() || text[i] == ' ' || text[i] == '%') {
                if (word.size() > best.size()) best = word;
                word.clear();
                if (i < text.size() && text[i] == '%') ++i;  // the placeholder's letter
            } else {
                word += text[i];
            }
        }
        fragments.push_back(best);
    }
    return fragments;
}

int CountFailures(const std::vector<std::string>& lines) {
    static const std::vector<std::string> fragments = FailureFragments();
    int count = 0;
    for (const std::string& line : lines) {
        for (const std::string& fragment : fragments) {
            if (!fragment.empty() && line.find(fragment) != std::string::npos) {
                ++count;
                break;
            }
        }
    }
    return count;
}

std::string ReadText(const std::string& path) {
    const Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

void WriteText(const std::string& path, const std::string& text) {
    WriteFileBytes(path, Bytes(text.begin(), text.end()));
}

FileTree Outside(const std::string& root) {
    FileTree tree = ReadTree(root);
    for (auto it = tree.begin(); it != tree.end();) {
        it = it->first.compare(0, 7, "target\\") == 0 ? tree.erase(it) : std::next(it);
    }
    return tree;
}

bool KeepsOriginals(const FileTree& after) {
    for (const auto& [name, content] : kOldTree) {
        if (name.back() == '\\') continue;
        bool kept = false;
        for (const auto& entry : after) kept = kept || entry.second == content;
        if (!kept) return false;
    }
    return true;
}

std::string VariantDirectory(const std::string& root, size_t n) {
    char name[16];
    std::snprintf(name, sizeof name, "\\v%04u", static_cast<unsigned>(n));
    return root + name;
}

int Make(const std::string& root, size_t stride) {
    const Bytes stub = ReadFileBytes(ApplierPath());
    if (stub.empty()) {
        std::printf("APPLIER_EXE cannot be read\n");
        return 2;
    }
    // The 8.3 aliases of the tree's long names, as this file system makes them.
    const std::string probe = root + "\\alias-probe";
    CreateDirectoryA(root.c_str(), nullptr);
    WriteTree(probe, kOldTree);
    char alias[MAX_PATH] = {}, shortProbe[MAX_PATH] = {};
    GetShortPathNameA((probe + "\\" + kLongFile).c_str(), alias, MAX_PATH);
    GetShortPathNameA(probe.c_str(), shortProbe, MAX_PATH);
    const std::string shortFile = alias + std::strlen(shortProbe) + 1;
    RemoveTree(probe);
    const std::string directoryAlias = shortFile.substr(0, shortFile.find('\\'));

    const std::vector<Variant> variants = AllVariants(stub, directoryAlias, shortFile);
    size_t made = 0;
    for (size_t i = 0; i < variants.size(); ++i) {
        // Every link variant is made: a sample must meet the file system too.
        if (i % stride != 0 && variants[i].link.empty()) continue;
        const std::string dir = VariantDirectory(root, i);
        WriteTree(dir + "\\target", kOldTree);
        WriteTree(dir + "\\sentinel", kSentinel);
        WriteFileBytes(dir + "\\PATCH.EXE", variants[i].file);
        WriteText(dir + "\\expect", variants[i].expect);
        WriteText(dir + "\\label", variants[i].label);
        if (!variants[i].link.empty()) WriteText(dir + "\\link", variants[i].link);
        ++made;
    }
    std::printf("made %u of %u variants\n", static_cast<unsigned>(made),
                static_cast<unsigned>(variants.size()));
    return 0;
}

struct Outcome {
    bool ended = false;
    bool startupBox = false;
    bool asked = false;  // a question box appeared (the restart question)
    int failures = 0;
    bool success = false;
    std::vector<std::string> log;
};

Outcome RunOne(const std::string& dir) {
    Outcome outcome;
    RunningPatch app;
    if (!app.Start(dir + "\\PATCH.EXE", "\"" + dir + "\\target\"", dir)) return outcome;
    const DWORD id = app.process.dwProcessId;
    bool window = false;
    MessageBoxSeen box;
    WaitUntil(
        [&] {
            for (HWND w : TopLevelWindows(id, "Orvanel GUI")) {
                if (IsWindowVisible(w)) window = true;
            }
            if (!window && !TopLevelWindows(id, "#32770").empty()) {
                box = WaitForMessageBox(id, "Error", 0);
            }
            return window || box.box != 0;
        },
        kRunLimitMs);
    if (box.box != 0) {
        outcome.startupBox = true;
        outcome.log = {box.text};
        outcome.failures = CountFailures(outcome.log);
        AnswerBox(box.box, IDOK);
        outcome.ended = app.WaitForExit(kRunLimitMs) == 255;
        app.Kill();
        return outcome;
    }
    if (!app.FindWindowAndControls() || !app.WaitForRunEnd()) {
        app.Kill();
        return outcome;
    }
    for (HWND w : TopLevelWindows(app.process.dwProcessId, "#32770")) {
        if (IsWindowVisible(w)) outcome.asked = true;
    }
    outcome.log = app.Log();
    outcome.failures = CountFailures(outcome.log);
    outcome.success = !outcome.log.empty() && outcome.log.back() == kSuccessLine;
    app.Close();
    outcome.ended = app.WaitForExit(kRunLimitMs) != STILL_ACTIVE;
    app.Kill();
    return outcome;
}

int Run(const std::string& root) {
    int runs = 0, cleanFailures = 0, successes = 0, violations = 0;
    for (size_t i = 0; i < 100000; ++i) {
        const std::string dir = VariantDirectory(root, i);
        if (GetFileAttributesA((dir + "\\expect").c_str()) == INVALID_FILE_ATTRIBUTES) {
            if (i > 2000) break;
            continue;
        }
        const std::string expect = ReadText(dir + "\\expect");
        const FileTree before = ReadTree(dir + "\\target");
        const FileTree outsideBefore = Outside(dir);
        const Outcome o = RunOne(dir);
        const FileTree after = ReadTree(dir + "\\target");
        const bool outsideSame = Outside(dir) == outsideBefore;
        const bool cleanFailure =
            o.ended && !o.asked && o.failures == 1 && !o.success && after == before && outsideSame;
        // Where a damaged field still makes a patch, it may change other names,
        // but every original stays in the target, in place or in a backup.
        const bool success = o.ended && !o.asked && o.failures == 0 && o.success && outsideSame &&
                             (expect == "either" ? KeepsOriginals(after) : after == kNewTree);
        bool ok = expect == "old"   ? cleanFailure
                  : expect == "new" ? success
                                    : cleanFailure || success;
        ++runs;
        cleanFailures += ok && cleanFailure;
        successes += ok && success;
        violations += !ok;
        std::printf("%s %s [%s] %s%s\n", ok ? "ok  " : "FAIL", dir.c_str() + root.size() + 1,
                    ReadText(dir + "\\label").c_str(),
                    cleanFailure ? "failed cleanly"
                    : success    ? "patched"
                                 : "",
                    o.log.empty() ? "" : (" | " + o.log.back()).c_str());
        if (!ok) {
            std::printf("     ended %d asked %d failures %d success %d target %s outside %s\n",
                        o.ended, o.asked, o.failures, o.success,
                        after == before     ? "old"
                        : after == kNewTree ? "new"
                                            : "changed",
                        outsideSame ? "same" : "CHANGED");
            for (const std::string& line : o.log) std::printf("     | %s\n", line.c_str());
        }
        std::fflush(stdout);
    }
    std::printf("runs %d, clean failures %d, successes %d, violations %d\n", runs, cleanFailures,
                successes, violations);
    return violations == 0 && runs > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 3 && std::strcmp(argv[1], "make") == 0) {
        const size_t stride = argc >= 4 ? std::strtoul(argv[3], nullptr, 10) : 1;
        return Make(argv[2], stride == 0 ? 1 : stride);
    }
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0) return Run(argv[2]);
    std::printf("usage: hostile_campaign make DIR [STRIDE] | run DIR\n");
    return 2;
}
