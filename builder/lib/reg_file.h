// Reads the registry changes of a patch from a standard .reg file
// ("REGEDIT4" or "Windows Registry Editor Version 5.00"): keys with string,
// dword and hex values. Texts come out as code page 950 bytes.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "builder/lib/payload_writer.h"

constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;
constexpr uint32_t kRegMultiSz = 7;

struct RegValue {
    std::string name;  // empty: the key's default value
    uint32_t type = kRegSz;
    Bytes data;
};

struct RegKey {
    uint32_t rootKey = 0;  // e.g. 0x80000002
    std::string path;
    std::vector<RegValue> values;
};

// How the bytes of a .reg file without a byte-order mark are text. Regedit
// writes version 5 files as UTF-16 with a mark, and REGEDIT4 files in the
// ANSI code page: code page 950 on a Traditional Chinese Windows.
enum class RegEncoding {
    kAuto,  // REGEDIT4: the one of UTF-8 and code page 950 its bytes are; else UTF-8
    kUtf8,
    kCp950,
};

// Parses the file's bytes (a byte-order mark decides; without one, as
// `encoding` says). Errors name the file and line. Deletions ("[-key]",
// "name"=-) cannot be expressed by a patch and are errors too, and so is
// UTF-16 data of hex(2) or hex(7) with an odd number of bytes.
bool ParseRegFile(const std::string& bytes, const std::string& label, std::vector<RegKey>* keys,
                  std::string* error, RegEncoding encoding = RegEncoding::kAuto);

// The root key value of a name such as HKEY_LOCAL_MACHINE or HKLM; 0 if none.
uint32_t RootKeyFromName(const std::string& name);

// "HKEY_LOCAL_MACHINE\Software\Foo" split into root value and path.
bool SplitKeyPath(const std::string& full, uint32_t* rootKey, std::string* path);
