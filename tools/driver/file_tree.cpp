#include "tools/driver/file_tree.h"

#include <fstream>
#include <iterator>

#include "platform/file_primitives.h"

namespace {

void Collect(const std::string& root, const std::string& relative, FileTree* tree) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((root + "\\" + relative + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        const std::string name = found.cFileName;
        if (name == "." || name == "..") continue;
        const std::string path = relative + name;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*tree)[path + "\\"] = Bytes();
            Collect(root, path + "\\", tree);
        } else {
            (*tree)[path] = ReadFileBytes(root + "\\" + path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

}  // namespace

Bytes TextBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes PseudoRandomBytes(size_t count, uint32_t seed) {
    Bytes bytes(count);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
    return bytes;
}

Bytes ScatteredChange(const Bytes& data, size_t spacing) {
    Bytes changed = data;
    for (size_t i = spacing / 2; i < changed.size(); i += spacing) changed[i] ^= 0x5A;
    return changed;
}

bool WriteFileBytes(const std::string& path, const Bytes& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
    return static_cast<bool>(out);
}

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string MakeScratchDirectory(const std::string& label) {
    static int counter = 0;
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "eng" + std::to_string(GetCurrentProcessId()) + "-" +
                       std::to_string(counter++) + "-" + label;
    RemoveTree(path);
    CreateDirectoryA(path.c_str(), nullptr);
    return path;
}

void WriteTree(const std::string& root, const FileTree& tree) {
    for (const auto& [relative, content] : tree) {
        const std::string path = root + "\\" + relative;
        MakeParentDirectories(path);
        if (relative.back() != '\\') WriteFileBytes(path, content);
    }
}

FileTree ReadTree(const std::string& root) {
    FileTree tree;
    Collect(root, "", &tree);
    return tree;
}

void RemoveTree(const std::string& root) {
    const FileTree tree = ReadTree(root);
    for (auto it = tree.rbegin(); it != tree.rend(); ++it) {
        const std::string path = root + "\\" + it->first;
        SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path.c_str())) RemoveDirectoryA(path.c_str());
    }
    RemoveDirectoryA(root.c_str());
}
