#include "builder/cli/file_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

constexpr int kDosEpochYear = 1980;
constexpr int kDosLastYear = 2107;

std::string Reason(const std::error_code& ec) { return ec ? ec.message() : std::strerror(errno); }

}  // namespace

bool ReadFileBytes(const std::string& path, Bytes* out, std::string* error) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    if (!in) {
        *error = path + ": cannot open (" + std::strerror(errno) + ")";
        return false;
    }
    out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        *error = path + ": read error";
        return false;
    }
    return true;
}

uint32_t FileDosTime(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return 0;
    std::time_t t = st.st_mtime;
    std::tm local{};
#ifdef _WIN32
    if (localtime_s(&local, &t) != 0) return 0;
#else
    if (localtime_r(&t, &local) == nullptr) return 0;
#endif
    int year = local.tm_year + 1900;
    if (year < kDosEpochYear || year > kDosLastYear) return 0;
    return DosDateTime(year, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                       local.tm_sec);
}

bool ReadTree(const std::string& path, Tree* tree, std::string* error) {
    tree->clear();
    std::error_code ec;
    fs::path root = fs::u8path(path);
    fs::file_status status = fs::status(root, ec);
    if (ec || !fs::exists(status)) {
        *error = path + ": no such file or directory";
        return false;
    }
    if (fs::is_regular_file(status)) {
        TreeFile& f = (*tree)[root.filename().u8string()];
        f.dosTime = FileDosTime(path);
        return ReadFileBytes(path, &f.content, error);
    }
    if (!fs::is_directory(status)) {
        *error = path + ": neither a file nor a directory";
        return false;
    }
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file(ec)) continue;
        std::string name = it->path().lexically_relative(root).generic_u8string();
        TreeFile& f = (*tree)[name];
        f.dosTime = FileDosTime(it->path().u8string());
        if (!ReadFileBytes(it->path().u8string(), &f.content, error)) return false;
    }
    if (ec) {
        *error = path + ": " + Reason(ec);
        return false;
    }
    return true;
}

bool WriteFileAtomically(const std::string& path, const Bytes& data, std::string* error) {
    fs::path target = fs::u8path(path);
    fs::path temporary = target;
    temporary += ".partial";
    std::error_code ec;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) {
            *error = path + ": cannot create (" + std::strerror(errno) + ")";
            return false;
        }
        out.write(reinterpret_cast<const char*>(data.data()),
                  static_cast<std::streamsize>(data.size()));
        out.flush();
        if (!out) {
            out.close();
            fs::remove(temporary, ec);
            *error = path + ": write failed (disk full?)";
            return false;
        }
    }
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        *error = path + ": cannot put the finished file in place";
        return false;
    }
    return true;
}

bool ReadPatchFile(const std::string& path, PatchContents* patch, std::ostream& err) {
    Bytes file;
    std::string error;
    if (ReadFileBytes(path, &file, &error) && ReadPatch(file, patch, &error)) return true;
    err << "error: " << path << ": " << error << "\n";
    return false;
}
