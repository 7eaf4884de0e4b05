#include "builder/cli/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#ifndef O_NOFOLLOW
#define O_NOFOLLOW 0
#endif
#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kDosEpochYear = 1980;
constexpr int kDosLastYear = 2107;
constexpr uint64_t kLargestFile = UINT32_MAX;  // sizes in a patch are 32-bit
constexpr int kTemporaryNameTries = 100;

std::FILE* OpenRead(const fs::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    return std::fopen(path.c_str(), "rb");
#endif
}

const char* SpecialKind(fs::file_type type) {
    switch (type) {
        case fs::file_type::fifo:
            return "a named pipe";
        case fs::file_type::socket:
            return "a socket";
        case fs::file_type::block:
        case fs::file_type::character:
            return "a device";
        default:
            return "not a regular file";
    }
}

// True when path is base or lies below it (both resolved).
bool IsWithin(const fs::path& path, const fs::path& base) {
    auto p = path.begin();
    for (auto b = base.begin(); b != base.end(); ++b, ++p) {
        if (b->empty()) continue;  // the trailing "" of "dir/"
        if (p == path.end() || *p != *b) return false;
    }
    return true;
}

bool Excluded(const TreeOptions& o, const std::string& name, const std::string& last) {
    for (size_t k = 0; k < o.excludes.size(); ++k) {
        if (MatchesPattern(o.excludes[k], name) || MatchesPattern(o.excludes[k], last)) {
            if (o.excludeHits != nullptr) ++(*o.excludeHits)[k];
            return true;
        }
    }
    return false;
}

struct TreeWalk {
    const TreeOptions& options;
    fs::path root;          // resolved
    std::string shownRoot;  // as the user gave it, for messages
    Tree* tree;
    std::set<fs::path> open;  // resolved directories being walked, against link loops
    std::string* error;
};

bool WalkDirectory(TreeWalk& w, const fs::path& dir, const std::string& prefix) {
    std::error_code ec;
    const std::string here =
        prefix.empty() ? w.shownRoot : w.shownRoot + "/" + prefix.substr(0, prefix.size() - 1);
    fs::path resolved = fs::canonical(dir, ec);
    if (ec || !w.open.insert(resolved).second) {
        *w.error = here + ": a link leads back into its own directory";
        return false;
    }
    std::vector<fs::directory_entry> entries;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        entries.push_back(*it);
    }
    if (ec) {
        *w.error = here + ": " + ec.message();
        return false;
    }
    for (const fs::directory_entry& entry : entries) {
        std::string last = entry.path().filename().u8string();
        std::string name = prefix + last;
        std::string shown = w.shownRoot + "/" + name;
        if (Excluded(w.options, name, last)) continue;
        fs::path path = entry.path();
        fs::file_status status = entry.symlink_status(ec);
        if (!ec && fs::is_symlink(status)) {
            if (!w.options.followLinks) {
                *w.error = shown +
                           ": a symbolic link; pass --follow-links to take links that stay inside "
                           "the tree, or --exclude it";
                return false;
            }
            path = fs::canonical(entry.path(), ec);
            if (ec) {
                *w.error = shown + ": a link to nothing (" + ec.message() + ")";
                return false;
            }
            if (!IsWithin(path, w.root)) {
                *w.error = shown + ": a link to " + path.u8string() + ", outside the tree";
                return false;
            }
            status = fs::status(path, ec);
        }
        if (ec) {
            *w.error = shown + ": " + ec.message();
            return false;
        }
        if (fs::is_directory(status)) {
            if (!WalkDirectory(w, path, name + "/")) return false;
        } else if (fs::is_regular_file(status)) {
            TreeFile& f = (*w.tree)[name];
            f.dosTime = FileDosTime(path.u8string(), w.options.zone);
            if (!ReadFileBytes(path.u8string(), &f.content, w.error)) return false;
        } else {
            *w.error = shown + ": " + SpecialKind(status.type()) +
                       ", which a patch cannot carry; --exclude it";
            return false;
        }
    }
    w.open.erase(resolved);
    return true;
}

#ifdef _WIN32
int OpenExclusive(const fs::path& p) {
    return _wopen(p.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int SyncFile(int fd) { return _commit(fd); }
int Pid() { return _getpid(); }
bool RenameOver(const fs::path& from, const fs::path& to) {
    return MoveFileExW(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}
#else
int OpenExclusive(const fs::path& p) {
    return open(p.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_BINARY, 0666);
}
int SyncFile(int fd) { return fsync(fd); }
int Pid() { return getpid(); }
bool RenameOver(const fs::path& from, const fs::path& to) {
    if (std::rename(from.c_str(), to.c_str()) != 0) return false;
    // The rename itself reaches the disk with the directory.
    int dir = open(to.parent_path().empty() ? "." : to.parent_path().c_str(), O_RDONLY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
#endif

bool WriteAll(int fd, const Bytes& data) {
    size_t done = 0;
    while (done < data.size()) {
        size_t piece = data.size() - done < (1u << 30) ? data.size() - done : (1u << 30);
        auto n = write(fd, data.data() + done, static_cast<unsigned>(piece));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

PathKind KindOf(const std::string& path) {
    std::error_code ec;
    fs::file_status status = fs::status(fs::u8path(path), ec);
    if (ec || !fs::exists(status)) return PathKind::kMissing;
    if (fs::is_regular_file(status)) return PathKind::kFile;
    return fs::is_directory(status) ? PathKind::kDirectory : PathKind::kOther;
}

bool ReadFileBytes(const std::string& path, Bytes* out, std::string* error) {
    out->clear();
    std::error_code ec;
    fs::file_status status = fs::status(fs::u8path(path), ec);
    if (ec || !fs::exists(status)) {
        *error = path + ": no such file";
        return false;
    }
    if (fs::is_directory(status)) {
        *error = path + ": a directory, where a file is expected";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        *error = path + ": " + SpecialKind(status.type()) + ", where a file is expected";
        return false;
    }
    uint64_t size = fs::file_size(fs::u8path(path), ec);
    if (!ec && size > kLargestFile) {
        *error = path + ": larger than 4 GiB, which a patch cannot carry";
        return false;
    }
    std::FILE* in = OpenRead(fs::u8path(path));
    if (in == nullptr) {
        *error = path + ": cannot open (" + std::strerror(errno) + ")";
        return false;
    }
    out->resize(ec ? 0 : size);
    size_t got = std::fread(out->data(), 1, out->size(), in);
    bool failed = got != out->size() || std::ferror(in);
    uint8_t extra;
    failed = failed || std::fread(&extra, 1, 1, in) != 0;  // the file grew while read
    std::fclose(in);
    if (failed) {
        *error = path + ": read error, or the file changed while read";
        return false;
    }
    return true;
}

bool ReadPatchFile(const std::string& path, PatchContents* patch, std::ostream& err) {
    Bytes file;
    std::string error;
    if (!ReadFileBytes(path, &file, &error)) {
        err << "error: " << error << "\n";
        return false;
    }
    if (ReadPatch(file, patch, &error)) return true;
    err << "error: " << path << ": " << error << "\n";
    return false;
}

bool ParseTimeZone(const std::string& text, TimeZoneRule* rule) {
    *rule = TimeZoneRule{};
    if (text == "utc" || text == "UTC") return true;
    if (text == "local") {
        rule->local = true;
        return true;
    }
    // +HH or +HH:MM
    const auto digits = [&](size_t at) {
        return std::isdigit(static_cast<unsigned char>(text[at])) &&
               std::isdigit(static_cast<unsigned char>(text[at + 1]));
    };
    bool shortForm = text.size() == 3, longForm = text.size() == 6 && text[3] == ':';
    if ((!shortForm && !longForm) || (text[0] != '+' && text[0] != '-') || !digits(1) ||
        (longForm && !digits(4))) {
        return false;
    }
    int hours = std::stoi(text.substr(1, 2)), minutes = longForm ? std::stoi(text.substr(4)) : 0;
    if (hours > 14 || minutes > 59) return false;
    char sign = text[0];
    rule->offsetMinutes = (sign == '-' ? -1 : 1) * (hours * 60 + minutes);
    return true;
}

uint32_t FileDosTime(const std::string& path, const TimeZoneRule& zone) {
#ifdef _WIN32
    struct _stat64 st;  // the wide form: names are UTF-8, not the ANSI code page
    if (_wstat64(fs::u8path(path).c_str(), &st) != 0) return 0;
#else
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
#endif
    std::time_t t = st.st_mtime;
    std::tm fields{};
    if (zone.local) {
#ifdef _WIN32
        if (localtime_s(&fields, &t) != 0) return 0;
#else
        if (localtime_r(&t, &fields) == nullptr) return 0;
#endif
    } else {
        t += static_cast<std::time_t>(zone.offsetMinutes) * 60;
#ifdef _WIN32
        if (gmtime_s(&fields, &t) != 0) return 0;
#else
        if (gmtime_r(&t, &fields) == nullptr) return 0;
#endif
    }
    int year = fields.tm_year + 1900;
    if (year < kDosEpochYear || year > kDosLastYear) return 0;
    return DosDateTime(year, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour, fields.tm_min,
                       fields.tm_sec);
}

bool ReadTree(const std::string& path, const TreeOptions& options, Tree* tree, std::string* error) {
    tree->clear();
    std::error_code ec;
    fs::path root = fs::canonical(fs::u8path(path), ec);
    if (ec || !fs::is_directory(root, ec)) {
        *error = path + ": not a directory";
        return false;
    }
    TreeWalk walk{options, root, path, tree, {}, error};
    while (walk.shownRoot.size() > 1 && walk.shownRoot.back() == '/') walk.shownRoot.pop_back();
    return WalkDirectory(walk, root, "");
}

bool ReadSingleFile(const std::string& path, const std::string& name, const TreeOptions& options,
                    Tree* tree, std::string* error) {
    tree->clear();
    TreeFile& f = (*tree)[name];
    f.dosTime = FileDosTime(path, options.zone);
    return ReadFileBytes(path, &f.content, error);
}

bool CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs, bool force,
                     std::string* error) {
    std::error_code ec;
    fs::path out = fs::u8path(output);
    fs::path directory = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    if (!fs::is_directory(directory, ec)) {
        *error = output + ": the directory " + directory.u8string() + " does not exist";
        return false;
    }
    PathKind kind = KindOf(output);
    if (kind == PathKind::kDirectory || kind == PathKind::kOther) {
        *error = output + ": not a file that can be written";
        return false;
    }
    fs::path resolved = fs::weakly_canonical(out, ec);
    for (const std::string& input : inputs) {
        fs::path in = fs::canonical(fs::u8path(input), ec);
        if (ec) continue;  // reported when the input is read
        bool same = kind == PathKind::kFile && fs::equivalent(out, in, ec);
        if (same || IsWithin(resolved, in)) {
            *error = output + ": would replace the input " + input +
                     (same ? "" : " (it lies inside that tree)") + "; choose another -o";
            return false;
        }
    }
    if (kind == PathKind::kFile && !force) {
        *error = output + ": exists; pass -f (--force) to replace it";
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const Bytes& data, std::string* error) {
    fs::path target = fs::u8path(path);
    fs::path directory = target.parent_path();
    int fd = -1;
    fs::path temporary;
    for (int attempt = 0; attempt < kTemporaryNameTries && fd < 0; ++attempt) {
        std::string name = "." + target.filename().u8string() + "." + std::to_string(Pid()) + "-" +
                           std::to_string(attempt) + ".tmp";
        temporary = directory / fs::u8path(name);
        fd = OpenExclusive(temporary);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) {
        *error = path + ": cannot create a temporary file beside it (" + std::strerror(errno) + ")";
        return false;
    }
    bool written = WriteAll(fd, data);
    bool synced = written && SyncFile(fd) == 0;
    int reason = errno;
    bool closed = close(fd) == 0;
    if (!written || !synced || !closed || !RenameOver(temporary, target)) {
        if (written && synced && closed) reason = errno;
        std::error_code ec;
        fs::remove(temporary, ec);
        *error = path + ": " +
                 (!written             ? "write failed"
                  : !closed || !synced ? "flush failed"
                                       : "rename failed") +
                 " (" + std::strerror(reason) + ")";
        return false;
    }
    return true;
}

std::string ExecutablePath(const char* argv0) {
    std::error_code ec;
#ifdef _WIN32
    (void)argv0;
    wchar_t buffer[32768];
    DWORD n = GetModuleFileNameW(nullptr, buffer, sizeof buffer / sizeof buffer[0]);
    if (n == 0 || n >= sizeof buffer / sizeof buffer[0]) return "";
    return fs::path(std::wstring(buffer, n)).u8string();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) return self.u8string();
    // Without /proc, a path with a separator is still the program itself;
    // a bare name was found on PATH and says nothing about where.
    std::string given = argv0 != nullptr ? argv0 : "";
    if (given.find('/') == std::string::npos) return "";
    fs::path resolved = fs::canonical(given, ec);
    return ec ? "" : resolved.u8string();
#endif
}
