#include "builder/lib/payload_writer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "builder/lib/delta_encoder.h"
#include "core/byte_order.h"
#include "core/payload_layout.h"
#include "core/record_reader.h"
#include "tests/core/test_step_io.h"

namespace {

Bytes RawInflate(const uint8_t* data, size_t size, bool* ended) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    Bytes out;
    uint8_t buffer[1024];
    zs.next_in = const_cast<Bytef*>(data);
    zs.avail_in = static_cast<uInt>(size);
    int status = Z_OK;
    while (status == Z_OK) {
        zs.next_out = buffer;
        zs.avail_out = sizeof buffer;
        status = inflate(&zs, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - zs.avail_out));
    }
    *ended = status == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return out;
}

struct ParsedPatch {
    PatchHeader header;
    PayloadTrailer trailer;
    Bytes payload;
    bool streamEnded = true;
};

ParsedPatch ParsePatch(const Bytes& file) {
    ParsedPatch p{};
    ParsePayloadTrailer(&file[file.size() - kPayloadTrailerSize], &p.trailer);
    size_t headerAt = file.size() - p.trailer.payloadLength;
    ParsePatchHeader(&file[headerAt], &p.header);
    const uint8_t* body = &file[headerAt + kPatchHeaderSize];
    size_t bodySize = p.trailer.payloadLength - kPatchHeaderSize - kPayloadTrailerSize;
    if (p.header.payloadFlags & kPayloadCompressed) {
        p.payload = RawInflate(body, bodySize, &p.streamEnded);
    } else {
        p.payload.assign(body, body + bodySize);
    }
    return p;
}

// Header fields sit at their fixed offsets and survive a round trip.
TEST(PayloadLayout, HeaderAndTrailerRoundTrip) {
    PatchHeader h{};
    h.headerMagic = kPayloadMagic;
    h.builderValue = 0x01020304;
    h.builderByte = 0x05;
    h.payloadFlags = 0x81;
    for (uint32_t i = 0; i < kOpaqueBlockSize; ++i) h.opaqueBlock[i] = static_cast<uint8_t>(i + 1);
    h.noticeLength = 0xA1B2;
    h.descriptionLength = 0xC3D4;
    uint8_t bytes[kPatchHeaderSize];
    SerializePatchHeader(h, bytes);
    EXPECT_EQ(LoadLe32(bytes), kPayloadMagic);
    EXPECT_EQ(bytes[9], 0x81);
    EXPECT_EQ(bytes[10], 1);
    EXPECT_EQ(bytes[73], 64);
    EXPECT_EQ(LoadLe16(bytes + 74), 0xA1B2);
    EXPECT_EQ(LoadLe16(bytes + 76), 0xC3D4);
    PatchHeader back{};
    ParsePatchHeader(bytes, &back);
    EXPECT_EQ(std::memcmp(&back.opaqueBlock, &h.opaqueBlock, kOpaqueBlockSize), 0);
    EXPECT_EQ(back.builderValue, h.builderValue);
    EXPECT_EQ(back.descriptionLength, h.descriptionLength);

    const struct {
        uint32_t length, magic;
        uint64_t fileSize;
        bool plausible;
    } kTrailers[] = {
        {86, kPayloadMagic, 86, true},
        {85, kPayloadMagic, 100, false},
        {101, kPayloadMagic, 100, false},
        {100, kPayloadMagic + 1, 100, false},
    };
    for (const auto& t : kTrailers) {
        uint8_t tb[kPayloadTrailerSize];
        SerializePayloadTrailer(PayloadTrailer{t.length, t.magic}, tb);
        PayloadTrailer parsed{};
        ParsePayloadTrailer(tb, &parsed);
        EXPECT_EQ(IsPlausibleTrailer(parsed, t.fileSize), t.plausible) << t.length;
    }
}

TEST(PatchFile, FramesThePayloadForEveryOption) {
    const Bytes stub = BytesOf("MZ-stub-image");
    const Bytes payload = BuildPayload(BytesOf("notice"), BytesOf("desc"), RandomBytes(3, 5000, 8));
    const PatchFileOptions kOptions[] = {
        {true, 9, 30, 2}, {false, 9, 7, 1}, {true, 0, 30, 2}, {true, 42, 30, 2}};
    for (const PatchFileOptions& options : kOptions) {
        Bytes file = BuildPatchFile(stub, payload, 6, 4, options);
        ASSERT_TRUE(std::equal(stub.begin(), stub.end(), file.begin()));
        ParsedPatch p = ParsePatch(file);
        EXPECT_TRUE(IsPlausibleTrailer(p.trailer, file.size()));
        EXPECT_EQ(p.trailer.payloadLength, file.size() - stub.size());
        EXPECT_EQ(p.header.headerMagic, kPayloadMagic);
        EXPECT_EQ(p.header.builderValue, options.builderValue);
        EXPECT_EQ(p.header.builderByte, options.builderByte);
        EXPECT_EQ(p.header.payloadFlags, options.compress ? kPayloadCompressed : 0);
        EXPECT_EQ(p.header.noticeLength, 6);
        EXPECT_EQ(p.header.descriptionLength, 4);
        EXPECT_TRUE(p.streamEnded) << "the body must hold one complete deflate stream";
        EXPECT_EQ(p.payload, payload);
    }
}

TEST(PatchFile, EmptyPayloadStillEndsItsStream) {
    Bytes file = BuildPatchFile(Bytes(), Bytes(), 0, 0, PatchFileOptions{});
    ParsedPatch p = ParsePatch(file);
    EXPECT_TRUE(p.streamEnded);
    EXPECT_TRUE(p.payload.empty());
}

// Every record the writer makes reads back with the shared reader.
TEST(RecordStreamWriter, RecordsReadBackWithTheReader) {
    Bytes source = RandomBytes(1, 900), target = RandomBytes(2, 700);
    ChangedFile changed;
    changed.fileName = "sub\\app.exe";
    changed.header.newSize = static_cast<uint32_t>(target.size());
    changed.header.newCrc = 0x12345678;
    changed.newSkipOffset = 10;
    changed.newSkipLength = 4;
    for (int i = 0; i < 2; ++i) {
        changed.variants.push_back(EncodeDelta(source, target, EncodeOptions{}));
    }
    changed.variants[1].sourceName = "old.exe";
    changed.variants[1].skipOffset = 5;

    RecordStreamWriter w;
    // Two sections, each its own LocationRecord followed by its body.
    w.Location(LocationSpec{kRegistryValue, 0x80000002u, "Software\\X", "Path"}, true);
    w.BackupName("B0");
    w.End();
    w.Location(LocationSpec{kWindowsDirectory, 0, "", ""});
    w.BackupName("BACKUP");
    w.Changed(changed);
    w.NewFile("new.dat", BytesOf("content"), 0x11223344, 0x20);
    w.Obsolete("gone.txt");
    w.Registry(RegistryScriptWriter(0x80000001u, "Software\\X", "").Finish());
    w.End();
    ASSERT_TRUE(w.ok());
    const Bytes& s = w.bytes();

    ASSERT_EQ(s[0], kRegistryValue);
    EXPECT_EQ(s[1], kMoreLocations);
    EXPECT_EQ(LoadLe32(&s[2]), 0x80000002u);
    MemoryByteSource in(s.data(), static_cast<uint32_t>(s.size()));
    ASSERT_TRUE(in.Seek(2 + 4 + 11 + 5));  // section 0's start
    std::string backup;
    CurrentRecord r;
    ASSERT_TRUE(ReadShortString(in, &backup));
    EXPECT_EQ(backup, "B0");
    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    EXPECT_EQ(r.kind, kEndRecord);
    uint8_t second[2];
    ASSERT_TRUE(in.Read(second, 2));
    EXPECT_EQ(second[0], kWindowsDirectory);
    EXPECT_EQ(second[1], 0) << "the last section has no MoreLocations";
    ASSERT_TRUE(ReadShortString(in, &backup));
    EXPECT_EQ(backup, "BACKUP");

    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    ASSERT_EQ(r.kind, kFileRecord);
    EXPECT_EQ(r.fileName, "sub\\app.exe");
    EXPECT_EQ(r.fileHeader.sourceCount, 2);
    EXPECT_TRUE(r.fileHeader.fileFlags & kHasSkipRange) << "skip values imply the flag";
    EXPECT_EQ(r.newSkipOffset, 10u);
    EXPECT_EQ(r.variants[0].sourceName, "sub\\app.exe");
    EXPECT_EQ(r.variants[1].sourceName, "old.exe");
    EXPECT_EQ(r.variants[1].skipOffset, 5u);
    for (int b = 0; b < kDeltaBlockCount; ++b) {
        const Bytes& block = changed.variants[1].blocks[b];
        EXPECT_EQ(r.variants[1].header.blockLength[b], block.size());
    }
    Bytes decoded;
    DecodeBlocks(r.variants[1].header, changed.variants[1].blocks, source,
                 static_cast<uint32_t>(target.size()), &decoded);
    EXPECT_EQ(decoded, target);

    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    ASSERT_EQ(r.kind, kNewFileRecord);
    EXPECT_EQ(r.newFileHeader.dataLength, 7u);
    EXPECT_EQ(r.newFileHeader.newTime, 0x11223344u);
    EXPECT_EQ(Bytes(&s[r.dataStart], &s[r.dataStart] + 7), BytesOf("content"));
    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    EXPECT_EQ(r.kind, kObsoleteRecord);
    EXPECT_EQ(r.fileName, "gone.txt");
    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    EXPECT_EQ(r.kind, kRegistryRecord);
    EXPECT_EQ(r.fileName, "gone.txt") << "a registry record keeps the last file name";
    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    EXPECT_EQ(r.kind, kEndRecord);
    EXPECT_EQ(in.Position(), s.size());
}

TEST(RegistryScriptWriter, LaysOutCheckAndOperations) {
    RegistryScriptWriter w(0x80000002u, "K", "V", 3);
    w.OpenKey(0x80000001u, "Sub");
    w.SetValue("N", 4, Bytes{1, 2, 3, 4});
    w.Op(7);
    const Bytes expected = {0x02, 0,    0,   0x80, 1,    'K', 1,   'V', 3,   0, 0, 0, 0,  // check
                            1,    0x01, 0,   0,    0x80, 3,   'S', 'u', 'b',              // OpenKey
                            2,    1,    'N', 4,    0,    0,   0,   4,   0,   0, 0, 1, 2,
                            3,    4,   // SetValue
                            7,    0};  // op 7, End
    EXPECT_EQ(w.Finish(), expected);
}

TEST(RecordStreamWriter, OverlongTextIsCutAndReported) {
    RecordStreamWriter w;
    w.Obsolete(std::string(255, 'a'));
    EXPECT_TRUE(w.ok());
    w.Obsolete(std::string(256, 'a'));
    EXPECT_FALSE(w.ok());
    EXPECT_EQ(w.bytes().size(), 2u * (1 + 1 + 255));
}

TEST(DosDateTime, PacksAndClampsCalendarFields) {
    const struct {
        int y, mo, d, h, mi, s;
        uint32_t expected;
    } kCases[] = {
        {1980, 1, 1, 0, 0, 0, 0x00210000u},
        {2024, 5, 17, 13, 45, 59,
         ((44u << 9 | 5u << 5 | 17u) << 16) | (13u << 11 | 45u << 5 | 29u)},
        {1970, 1, 1, 0, 0, 0, 0x00210000u},  // before the epoch
        {2200, 12, 31, 23, 59, 58,
         ((127u << 9 | 12u << 5 | 31u) << 16) | (23u << 11 | 59u << 5 | 29u)},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(DosDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.expected) << c.y;
    }
}

}  // namespace
