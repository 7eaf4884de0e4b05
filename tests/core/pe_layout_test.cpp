#include "core/pe_layout.h"

#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "core/patch_frame.h"
#include "tests/core/test_bytes.h"

namespace {

const uint8_t kTrailerTail[] = {0x20, 0, 0, 0, 0x43, 0x84, 0x7F, 0x3E};

// Changes the security entry (offset, then size) of a file `size` bytes long.
using Damage = void (*)(uint8_t* entry, uint32_t size);
void Set(uint8_t* entry, uint32_t offset, uint32_t size) {
    StoreLe32(entry, offset);
    StoreLe32(entry + 4, size);
}

TEST(PayloadTrailerEnd, FindsTheTrailerOnlyInFrontOfATableThatEndsTheFile) {
    const struct {
        const char* name;
        uint16_t magic;
        bool sign;
        uint32_t padding;  // zeros a signing tool puts in front of the table
        uint32_t cutTo;    // 0: the whole file
        bool atTrailer;    // otherwise at the file's end
        Damage damage;
    } kCases[] = {
        // clang-format off
        {"unsigned", 0x10B, false, 0, 0, false, nullptr},
        {"signed PE32", 0x10B, true, 0, 0, true, nullptr},
        {"signed PE32+", 0x20B, true, 0, 0, true, nullptr},
        {"3 bytes padding", 0x10B, true, 3, 0, true, nullptr},
        {"7 bytes padding", 0x20B, true, 7, 0, true, nullptr},
        {"elsewhere", 0x10B, true, 0, 0, false, [](uint8_t* e, uint32_t) { StoreLe32(e, LoadLe32(e) - 8); }},
        {"in headers", 0x10B, true, 0, 0, false, [](uint8_t* e, uint32_t n) { Set(e, 0x10, n - 0x10); }},
        {"wraps", 0x10B, true, 0, 0, false, [](uint8_t* e, uint32_t n) { Set(e, 0u - 8, n + 8); }},
        {"too small", 0x10B, true, 0, 0, false, [](uint8_t* e, uint32_t n) { Set(e, n - 4, 4); }},
        {"only 4 directories", 0x20B, true, 0, 0, false, [](uint8_t* e, uint32_t) { StoreLe32(e - 36, 4); }},
        {"unknown optional magic", 0x107, true, 0, 0, false, nullptr},
        {"cut in the optional header", 0x20B, true, 0, 150, false, nullptr},
        {"cut in the DOS header", 0x10B, true, 0, 20, false, nullptr},
        // clang-format on
    };
    for (const auto& c : kCases) {
        // Code, then the trailer where the padding the case asks for follows.
        Bytes file = PeImage(c.magic, 8 - c.padding);
        file.insert(file.end(), kTrailerTail, kTrailerTail + sizeof kTrailerTail);
        const uint32_t trailerEnd = static_cast<uint32_t>(file.size());
        if (c.sign) file = SignedCopy(file, c.magic);
        if (c.damage) c.damage(&file[SecurityEntryAt(c.magic)], uint32_t(file.size()));
        if (c.cutTo > 0) file.resize(c.cutTo);
        MemoryByteSource source(file.data(), static_cast<uint32_t>(file.size()));
        EXPECT_EQ(PayloadTrailerEnd(source), c.atTrailer ? trailerEnd : file.size()) << c.name;
    }
}

// An image, then a header and a body of `bodySize` bytes framed by a trailer.
Bytes FramedPatch(uint16_t magic, uint32_t bodySize) {
    Bytes file = PeImage(magic);
    PatchHeader header{};
    header.headerMagic = kPayloadMagic;
    header.noticeLength = 7;
    uint8_t bytes[kPatchHeaderSize];
    SerializePatchHeader(header, bytes);
    file.insert(file.end(), bytes, bytes + sizeof bytes);
    file.insert(file.end(), bodySize, 0xB0);
    uint8_t tail[kPayloadTrailerSize];
    SerializePayloadTrailer({kPatchHeaderSize + bodySize + kPayloadTrailerSize, kPayloadMagic},
                            tail);
    file.insert(file.end(), tail, tail + sizeof tail);
    return file;
}

TEST(ReadPatchFrame, FindsHeaderAndBodyOrSaysWhyNot) {
    const struct {
        const char* name;
        bool sign;
        void (*damage)(Bytes& file, size_t trailerEnd);
        FrameStatus status;
    } kCases[] = {
        // clang-format off
        {"unsigned", false, nullptr, FrameStatus::kOk},
        {"signed", true, nullptr, FrameStatus::kOk},
        {"too small", false, [](Bytes& f, size_t) { f.resize(kPatchHeaderSize + kPayloadTrailerSize - 1); }, FrameStatus::kTooSmall},
        {"trailer magic", false, [](Bytes& f, size_t e) { f[e - 1] ^= 1; }, FrameStatus::kNoPayload},
        {"length past the file", false, [](Bytes& f, size_t e) { StoreLe32(&f[e - 8], uint32_t(e + 1)); }, FrameStatus::kNoPayload},
        {"length below a frame", false, [](Bytes& f, size_t e) { StoreLe32(&f[e - 8], 85); }, FrameStatus::kNoPayload},
        {"header magic", true, [](Bytes& f, size_t e) { f[e - 8 - 40 - kPatchHeaderSize] ^= 1; }, FrameStatus::kDamagedHeader},
        // clang-format on
    };
    constexpr uint32_t kBodySize = 40;
    for (const auto& c : kCases) {
        Bytes file = FramedPatch(0x10B, kBodySize);
        const size_t trailerEnd = file.size();
        if (c.sign) file = SignedCopy(file, 0x10B);
        if (c.damage) c.damage(file, trailerEnd);
        MemoryByteSource source(file.data(), static_cast<uint32_t>(file.size()));
        PatchFrame frame;
        ASSERT_EQ(ReadPatchFrame(source, &frame), c.status) << c.name;
        if (c.status != FrameStatus::kOk) continue;
        EXPECT_EQ(frame.payloadEnd, trailerEnd) << c.name;
        EXPECT_EQ(frame.bodySize, kBodySize) << c.name;
        EXPECT_EQ(frame.bodyStart, trailerEnd - 8 - kBodySize) << c.name;
        EXPECT_EQ(frame.headerStart, PeImage(0x10B).size()) << c.name;
        EXPECT_EQ(frame.header.noticeLength, 7) << c.name;
        EXPECT_EQ(source.Position(), frame.bodyStart) << c.name;  // extraction goes on from here
    }
}

}  // namespace
