// The engine tests' file helpers and run host, shared here.
#pragma once
#include "tests/engine/engine_harness.h"

// A fresh directory, removed with its contents.
struct ScratchDirectory {
    std::string path = MakeScratchDirectory("win");
    ~ScratchDirectory() { RemoveTree(path); }
    std::string operator/(const std::string& name) const { return path + "\\" + name; }
};
