// Byte helpers shared by the core tests.
#pragma once
#include <cstdint>
#include <cstring>
#include <random>

#include "builder/lib/patch_build.h"
#include "builder/lib/patch_reader.h"
#include "builder/lib/payload_writer.h"
#include "core/byte_order.h"
#include "core/record_reader.h"

inline Bytes BytesOf(const char* text) { return Bytes(text, text + std::strlen(text)); }

inline Bytes RandomBytes(uint32_t seed, size_t count, int alphabet = 256) {
    std::mt19937 rng(seed);
    Bytes out(count);
    for (auto& b : out) b = static_cast<uint8_t>(rng() % alphabet);
    return out;
}

// Reads records up to the end record: the first failure, or kOk.
inline ReadRecordStatus ReadAllRecords(const Bytes& stream) {
    MemoryByteSource in(stream.data(), static_cast<uint32_t>(stream.size()));
    CurrentRecord r;
    ReadRecordStatus status;
    while ((status = ReadRecord(in, &r)) == ReadRecordStatus::kOk && r.kind != RecordKind::kEnd) {
    }
    return status;
}

// A PE image's headers and some code, with an empty security directory;
// magic 0x10B is PE32, 0x20B PE32+.
constexpr uint32_t kTestPeOffset = 0x40;
inline uint32_t SecurityEntryAt(uint16_t magic) {
    return kTestPeOffset + 24 + (magic == 0x20B ? 112 : 96) + 4 * 8;
}
inline Bytes PeImage(uint16_t magic, size_t codeSize = 100) {
    const bool plus = magic == 0x20B;
    const uint32_t optional = kTestPeOffset + 24;
    const uint16_t optionalSize = plus ? 240 : 224;
    Bytes image(optional + optionalSize + codeSize, 0x90);
    image[0] = 'M';
    image[1] = 'Z';
    StoreLe32(&image[0x3C], kTestPeOffset);
    StoreLe32(&image[kTestPeOffset], 0x00004550u);
    StoreLe16(&image[kTestPeOffset + 4 + 16], optionalSize);
    StoreLe16(&image[optional], magic);
    StoreLe32(&image[optional + (plus ? 108 : 92)], 16);
    return image;
}

// Signs a file built on PeImage the way signing tools do: zeros up to a
// multiple of 8, then a certificate table the security directory records.
inline Bytes SignedCopy(Bytes file, uint16_t magic, uint32_t tableSize = 1200) {
    file.resize((file.size() + 7) / 8 * 8, 0);
    StoreLe32(&file[SecurityEntryAt(magic)], static_cast<uint32_t>(file.size()));
    StoreLe32(&file[SecurityEntryAt(magic) + 4], tableSize);
    file.resize(file.size() + tableSize, 0x5A);
    return file;
}

// The builder's patch of olds to newer, read back (and its bytes in file when
// asked for); false with the error.
inline bool BuildAndRead(const std::vector<Tree>& olds, const Tree& newer,
                         const PatchSettings& settings, PatchContents* contents, std::string* error,
                         Bytes* file = nullptr) {
    Bytes bytes;
    BuildSummary summary;
    if (!BuildPatch(olds, newer, settings, Bytes(), nullptr, &bytes, &summary, error)) return false;
    if (file) *file = bytes;
    return ReadPatch(bytes, contents, error);
}
