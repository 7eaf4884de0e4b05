// The engine tests' file helpers and the window probe's readers, shared here.
#pragma once
#include <fstream>
#include <iterator>

#include "tests/e2e/window_probe.h"
#include "tests/engine/engine_harness.h"

// A fresh directory, removed with its contents.
struct ScratchDirectory {
    std::string path = MakeScratchDirectory("win");
    ~ScratchDirectory() { RemoveTree(path); }
    std::string operator/(const std::string& name) const { return path + "\\" + name; }
};

inline void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}
