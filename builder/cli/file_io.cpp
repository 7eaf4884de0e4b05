#include "builder/cli/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#else
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/syscall.h>
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
#ifndef _WIN32
        // Legal in a Linux name, but a separator to Windows.
        if (last.find('\\') != std::string::npos && w.options.warnings != nullptr) {
            w.options.warnings->push_back(shown +
                                          ": the name holds a backslash, which Windows reads "
                                          "as a directory separator");
        }
#endif
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
using PathChar = wchar_t;
int OpenExclusive(const fs::path& p) {
    return _wopen(p.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int SyncFile(int fd) { return _commit(fd); }
int Pid() { return _getpid(); }
void RemoveNow(const wchar_t* p) { _wunlink(p); }
bool MoveIntoPlace(const fs::path& from, const fs::path& to, bool replace, bool* existed) {
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExW(from.c_str(), to.c_str(), flags)) return true;
    DWORD code = GetLastError();
    *existed = code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS;
    errno = *existed ? EEXIST : EIO;
    return false;
}
#else
using PathChar = char;
int OpenExclusive(const fs::path& p) {
    return open(p.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_BINARY, 0666);
}
int SyncFile(int fd) { return fsync(fd); }
int Pid() { return getpid(); }
void RemoveNow(const char* p) { unlink(p); }

// A move that fails when the destination exists, in one step.
bool RenameNoReplace(const fs::path& from, const fs::path& to, bool* existed) {
#if defined(__linux__) && defined(SYS_renameat2)
    constexpr unsigned kRenameNoReplace = 1;  // RENAME_NOREPLACE
    if (syscall(SYS_renameat2, AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), kRenameNoReplace) ==
        0) {
        return true;
    }
    *existed = errno == EEXIST;
    if (*existed || (errno != EINVAL && errno != ENOSYS)) return false;
#endif
    // Where the file system lacks it, a hard link is the same test; the
    // temporary name is then dropped.
    if (link(from.c_str(), to.c_str()) == 0) {
        unlink(from.c_str());
        return true;
    }
    *existed = errno == EEXIST;
    return false;
}

bool MoveIntoPlace(const fs::path& from, const fs::path& to, bool replace, bool* existed) {
    *existed = false;
    bool moved =
        replace ? std::rename(from.c_str(), to.c_str()) == 0 : RenameNoReplace(from, to, existed);
    if (!moved) return false;
    // The rename itself reaches the disk with the directory.
    int dir = open(to.parent_path().empty() ? "." : to.parent_path().c_str(), O_RDONLY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    return true;
}
#endif

// The temporary file being written, for the signal handlers. A handler may
// only touch plain static memory, so this is the one process-wide datum of
// the builder: a fixed buffer and a flag, set only while such a file exists.
constexpr size_t kPendingCapacity = 4096;
PathChar g_pendingPath[kPendingCapacity];
volatile std::sig_atomic_t g_pendingSet = 0;
constexpr int kCleanupSignals[] = {
    SIGINT,
    SIGTERM,
#ifdef SIGHUP
    SIGHUP,
#endif
};

extern "C" void RemovePendingAndDie(int signal) {
    if (g_pendingSet) RemoveNow(g_pendingPath);
    g_pendingSet = 0;
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// Created exclusively and registered for removal with signals held off, so
// a signal never finds the file unregistered nor removes another's file.
class PendingFile {
  public:
    explicit PendingFile(const fs::path& path) {
        const fs::path::string_type& native = path.native();
        if (native.size() >= kPendingCapacity) {
            errno = ENAMETOOLONG;
            return;
        }
        Catch();
        Hold(true);
        fd_ = OpenExclusive(path);
        int reason = errno;
        if (fd_ >= 0) {
            native.copy(g_pendingPath, native.size());
            g_pendingPath[native.size()] = 0;
            g_pendingSet = 1;
            registered_ = true;
        }
        Hold(false);
        errno = reason;
    }
    ~PendingFile() { Forget(); }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    int fd() const { return fd_; }
    // The name now belongs to the finished file, or was removed.
    void Forget() {
        if (registered_) g_pendingSet = 0;
        registered_ = false;
    }

  private:
    // A signal that was ignored (nohup's SIGHUP) stays ignored.
    static void Catch() {
        for (int s : kCleanupSignals) {
#ifndef _WIN32
            struct sigaction now {};
            if (sigaction(s, nullptr, &now) != 0 || now.sa_handler == SIG_IGN) continue;
            struct sigaction act {};
            act.sa_handler = RemovePendingAndDie;
            sigemptyset(&act.sa_mask);
            sigaction(s, &act, nullptr);
#else
            if (std::signal(s, RemovePendingAndDie) == SIG_IGN) std::signal(s, SIG_IGN);
#endif
        }
    }
    void Hold(bool hold) {
#ifndef _WIN32
        sigset_t set;
        sigemptyset(&set);
        for (int s : kCleanupSignals) sigaddset(&set, s);
        if (hold) {
            sigprocmask(SIG_BLOCK, &set, &before_);
        } else {
            sigprocmask(SIG_SETMASK, &before_, nullptr);
        }
#else
        (void)hold;
#endif
    }
    int fd_ = -1;
    bool registered_ = false;
#ifndef _WIN32
    sigset_t before_{};
#endif
};

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

namespace {

std::string TemporaryName(const fs::path& target, const std::string& tag, int attempt) {
    return "." + target.filename().u8string() + "." + std::to_string(Pid()) + tag + "-" +
           std::to_string(attempt) + ".tmp";
}

}  // namespace

bool WriteFileAtomically(const std::string& path, const Bytes& data, bool replace,
                         std::string* error) {
    fs::path target = fs::u8path(path);
    fs::path directory = target.parent_path();
    std::unique_ptr<PendingFile> file;
    fs::path temporary;
    for (int attempt = 0; attempt < kTemporaryNameTries; ++attempt) {
        temporary = directory / fs::u8path(TemporaryName(target, "", attempt));
        file = std::make_unique<PendingFile>(temporary);
        if (file->fd() >= 0 || errno != EEXIST) break;
    }
    if (file->fd() < 0) {
        *error = path + ": cannot create a temporary file beside it (" + std::strerror(errno) + ")";
        return false;
    }
    int fd = file->fd();
    bool written = WriteAll(fd, data);
    bool synced = written && SyncFile(fd) == 0;
    int reason = errno;
    bool closed = close(fd) == 0;
    bool existed = false;
    if (!written || !synced || !closed || !MoveIntoPlace(temporary, target, replace, &existed)) {
        if (written && synced && closed) reason = errno;
        std::error_code ec;
        fs::remove(temporary, ec);
        file->Forget();
        *error = path + ": " +
                 (existed              ? "created meanwhile by another program; pass -f "
                                         "(--force) to replace it"
                  : !written           ? "write failed"
                  : !closed || !synced ? "flush failed"
                                       : "rename failed") +
                 (existed ? "" : " (" + std::string(std::strerror(reason)) + ")");
        return false;
    }
    file->Forget();
    return true;
}

SpaceVerdict JudgeSpace(uint64_t available, uint64_t least, uint64_t most) {
    if (available < least) return SpaceVerdict::kTooLittle;
    return available < most ? SpaceVerdict::kMayNotFit : SpaceVerdict::kEnough;
}

bool CheckOutputDirectory(const std::string& output, uint64_t least, uint64_t most,
                          std::string* warning, std::string* error) {
    fs::path target = fs::u8path(output);
    fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    fs::path probe;
    int reason = 0;
    bool created = false;
    for (int attempt = 0; attempt < kTemporaryNameTries && !created; ++attempt) {
        probe = directory / fs::u8path(TemporaryName(target, "-probe", attempt));
        PendingFile file(probe);
        reason = errno;
        created = file.fd() >= 0;
        if (created) {
            close(file.fd());
            std::error_code ec;
            fs::remove(probe, ec);
        } else if (reason != EEXIST) {
            break;
        }
    }
    if (!created) {
        *error = output + ": cannot create a file in " + directory.u8string() + " (" +
                 std::strerror(reason) + ")";
        return false;
    }
    std::error_code ec;
    fs::space_info space = fs::space(directory, ec);
    if (ec) return true;  // unknown: the write itself will tell
    const std::string free =
        std::to_string(space.available) + " bytes free in " + directory.u8string();
    switch (JudgeSpace(space.available, least, most)) {
        case SpaceVerdict::kTooLittle:
            *error =
                output + ": only " + free + "; the patch needs at least " + std::to_string(least);
            return false;
        case SpaceVerdict::kMayNotFit:
            *warning = output + ": " + free + "; the patch may need up to " + std::to_string(most);
            break;
        case SpaceVerdict::kEnough:
            break;
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
