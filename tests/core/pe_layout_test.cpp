#include "core/pe_layout.h"

#include <gtest/gtest.h>

#include "core/byte_order.h"
#include "tests/core/test_bytes.h"

namespace {

const uint8_t kTrailerTail[] = {0x20, 0, 0, 0, 0x43, 0x84, 0x7F, 0x3E};

enum class Directory { kAsSigned, kEarlier, kInHeaders, kWrapping, kTooSmall, kNoEntry };
enum class Expect { kFileEnd, kTrailerEnd };

struct Case {
    const char* name;
    uint16_t magic;
    bool sign;
    uint32_t padding;  // zeros a signing tool puts in front of the table
    Directory directory;
    uint32_t cutTo;  // 0: the whole file
    Expect expect;
};

TEST(PayloadTrailerEnd, FindsTheTrailerOnlyInFrontOfATableThatEndsTheFile) {
    const Case kCases[] = {
        {"unsigned", 0x10B, false, 0, Directory::kAsSigned, 0, Expect::kFileEnd},
        {"signed PE32", 0x10B, true, 0, Directory::kAsSigned, 0, Expect::kTrailerEnd},
        {"signed PE32+", 0x20B, true, 0, Directory::kAsSigned, 0, Expect::kTrailerEnd},
        {"3 bytes padding", 0x10B, true, 3, Directory::kAsSigned, 0, Expect::kTrailerEnd},
        {"7 bytes padding", 0x20B, true, 7, Directory::kAsSigned, 0, Expect::kTrailerEnd},
        {"table elsewhere", 0x10B, true, 0, Directory::kEarlier, 0, Expect::kFileEnd},
        {"table in headers", 0x10B, true, 0, Directory::kInHeaders, 0, Expect::kFileEnd},
        {"offset+size wraps", 0x10B, true, 0, Directory::kWrapping, 0, Expect::kFileEnd},
        {"table too small", 0x10B, true, 0, Directory::kTooSmall, 0, Expect::kFileEnd},
        {"no security entry", 0x20B, true, 0, Directory::kNoEntry, 0, Expect::kFileEnd},
        {"unknown optional magic", 0x107, true, 0, Directory::kAsSigned, 0, Expect::kFileEnd},
        {"cut in the optional header", 0x20B, true, 0, Directory::kAsSigned, 150, Expect::kFileEnd},
        {"cut in the DOS header", 0x10B, true, 0, Directory::kAsSigned, 20, Expect::kFileEnd},
    };
    for (const Case& c : kCases) {
        // Code, then the trailer where the padding the case asks for follows.
        Bytes file = PeImage(c.magic, 8 - c.padding);
        file.insert(file.end(), kTrailerTail, kTrailerTail + sizeof kTrailerTail);
        const uint32_t trailerEnd = static_cast<uint32_t>(file.size());
        if (c.sign) file = SignedCopy(file, c.magic);
        uint8_t* entry = &file[SecurityEntryAt(c.magic)];
        const uint32_t size = static_cast<uint32_t>(file.size());
        switch (c.directory) {
            case Directory::kAsSigned:
                break;
            case Directory::kEarlier:
                StoreLe32(entry, LoadLe32(entry) - 8);
                break;
            case Directory::kInHeaders:
                StoreLe32(entry, 0x10);
                StoreLe32(entry + 4, size - 0x10);
                break;
            case Directory::kWrapping:
                StoreLe32(entry, 0u - 8);
                StoreLe32(entry + 4, size + 8);
                break;
            case Directory::kTooSmall:
                StoreLe32(entry, size - 4);
                StoreLe32(entry + 4, 4);
                break;
            case Directory::kNoEntry:
                StoreLe32(entry - 4 * 8 - 4, 4);  // four directories only
                break;
        }
        if (c.cutTo > 0) file.resize(c.cutTo);
        MemoryByteSource source(file.data(), static_cast<uint32_t>(file.size()));
        const uint32_t expected = c.expect == Expect::kFileEnd ? file.size() : trailerEnd;
        EXPECT_EQ(PayloadTrailerEnd(source), expected) << c.name;
    }
}

}  // namespace
