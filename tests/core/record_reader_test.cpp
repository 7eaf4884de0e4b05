#include "core/record_reader.h"

#include <gtest/gtest.h>

#include "builder/lib/payload_writer.h"
#include "tests/core/test_step_io.h"

namespace {

ReadRecordStatus ReadOne(const Bytes& stream, CurrentRecord* record,
                         uint32_t* endPosition = nullptr) {
    MemoryByteSource in(stream.data(), static_cast<uint32_t>(stream.size()));
    ReadRecordStatus status = ReadRecord(in, record);
    if (endPosition) *endPosition = in.Position();
    return status;
}

DeltaVariant Variant(const std::string& sourceName, uint32_t blockBytes) {
    DeltaVariant v;
    v.sourceName = sourceName;
    for (int b = 0; b < kDeltaBlockCount; ++b) v.blocks[b] = Bytes(blockBytes + b, uint8_t(b));
    return v;
}

TEST(RecordReader, FileRecordFieldsAndSkipRanges) {
    for (bool skip : {false, true}) {
        ChangedFile file;
        file.fileName = "dir/app.exe";
        file.header.fileFlags = skip ? kHasSkipRange : 0;
        file.newSkipOffset = skip ? 100 : 0;
        file.newSkipLength = skip ? 8 : 0;
        file.variants = {Variant("", 2), Variant("old.exe", 5)};
        file.variants[1].skipOffset = skip ? 50 : 0;
        file.variants[1].skipLength = skip ? 4 : 0;
        RecordStreamWriter w;
        w.Changed(file);
        CurrentRecord r;
        ASSERT_EQ(ReadOne(w.bytes(), &r), ReadRecordStatus::kOk);
        EXPECT_EQ(r.newSkipOffset, skip ? 100u : 0u);
        EXPECT_EQ(r.variants[0].sourceName, "dir/app.exe") << "an empty name stands for the file";
        EXPECT_EQ(r.variants[1].sourceName, "old.exe");
        EXPECT_EQ(r.variants[1].skipLength, skip ? 4u : 0u);
        // The data of variant 1 starts behind variant 0's blocks, name and header.
        uint32_t variant0 = static_cast<uint32_t>(VariantDataLength(r.variants[0].header));
        uint32_t between = 1 + 7 + kVariantHeaderSize + (skip ? 8 : 0);
        EXPECT_EQ(r.variants[1].dataStart, r.variants[0].dataStart + variant0 + between);
        EXPECT_EQ(w.bytes()[r.variants[1].dataStart], 0) << "first byte of the command block";
    }
}

TEST(RecordReader, NulInsideAShortStringCutsTheTextNotThePosition) {
    RecordStreamWriter w;
    w.Obsolete(std::string("a.txt\0junk", 10));
    w.End();
    MemoryByteSource in(w.bytes().data(), static_cast<uint32_t>(w.bytes().size()));
    CurrentRecord r;
    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    EXPECT_EQ(r.fileName, "a.txt");
    ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
    EXPECT_EQ(r.kind, kEndRecord);
    EXPECT_EQ(r.fileName, "a.txt") << "the end record keeps the name";
}

TEST(RecordReader, RejectsWhatDoesNotFit) {
    ChangedFile twenty, twentyOne;
    twenty.fileName = twentyOne.fileName = "f";
    twenty.variants.assign(20, Variant("", 0));
    twentyOne.variants.assign(21, Variant("", 0));
    RecordStreamWriter ok20, bad21, lengthPastEnd, scriptPastEnd;
    ok20.Changed(twenty);
    bad21.Changed(twentyOne);
    lengthPastEnd.NewFile("n", Bytes(10, 1));
    scriptPastEnd.Registry(Bytes(10, 1));
    const struct {
        const char* name;
        Bytes stream;
        ReadRecordStatus status;
    } kCases[] = {
        {"20 sources", ok20.bytes(), ReadRecordStatus::kOk},
        {"21 sources", bad21.bytes(), ReadRecordStatus::kTooManySources},
        {"kind 4", Bytes{4}, ReadRecordStatus::kUnknownKind},
        {"kind 6", Bytes{6}, ReadRecordStatus::kUnknownKind},
        {"kind 255", Bytes{255}, ReadRecordStatus::kUnknownKind},
        {"empty stream", Bytes{}, ReadRecordStatus::kReadFailed},
        {"content past the end",
         Bytes(lengthPastEnd.bytes().begin(), lengthPastEnd.bytes().end() - 1),
         ReadRecordStatus::kReadFailed},
        {"script past the end",
         Bytes(scriptPastEnd.bytes().begin(), scriptPastEnd.bytes().end() - 1),
         ReadRecordStatus::kReadFailed},
    };
    for (const auto& c : kCases) {
        CurrentRecord r;
        EXPECT_EQ(ReadOne(c.stream, &r), c.status) << c.name;
    }
}

// Every proper prefix of a valid stream is a failed read, never a crash or an
// accepted record with bulk data beyond the end.
TEST(RecordReader, EveryTruncationFailsCleanly) {
    ChangedFile file;
    file.fileName = "app.exe";
    file.header.fileFlags = kHasSkipRange;
    file.variants = {Variant("", 3), Variant("old.exe", 2)};
    RecordStreamWriter w;
    w.Changed(file);
    const Bytes& full = w.bytes();
    for (size_t n = 0; n < full.size(); ++n) {
        CurrentRecord r;
        EXPECT_EQ(ReadOne(Bytes(full.begin(), full.begin() + n), &r), ReadRecordStatus::kReadFailed)
            << n;
    }
}

TEST(RecordReader, NamesMustStayBelowTheTarget) {
    const struct {
        std::string name;
        bool safe;
    } kCases[] = {
        {"C:\\x", false},
        {"\\x", false},
        {"/x", false},
        {"..\\x", false},
        {"a\\..\\b", false},
        {"a/../b", false},
        {"x:stream", false},
        {"", false},
        {".", false},
        {". .", false},
        {"a\\\\b", false},
        {"a\\", false},
        {"...", false},
        {"a\\. \\b", false},
        {"a\\b.txt", true},
        {"dir/file", true},
        {"a..b", true},
        {".hidden", true},
        // Big5 characters whose second byte is 0x5C are not separators.
        {"\xB3\x5C", true},             // one character
        {"\xA5\x5C.txt", true},         // character, then ".txt"
        {"dir\\\xB3\x5C\\file", true},  // a directory named by it
        {"\xB3\x5C\\..\\x", false},     // still no way up
        {"\xB3\x5C..\\x", false},       // ".." to a byte-wise reader
        {"\xB3/..", false},             // '/' is no second byte, so it separates
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(IsSafeRelativeName(c.name), c.safe) << c.name;
    }
    for (const auto& c : kCases) {
        if (c.safe) continue;
        RecordStreamWriter w;
        w.Obsolete(c.name);
        CurrentRecord r;
        EXPECT_NE(ReadOne(w.bytes(), &r), ReadRecordStatus::kOk) << c.name;
    }
    // A source name is held to the same rule.
    ChangedFile file;
    file.fileName = "ok.exe";
    file.variants = {Variant("..\\evil.exe", 0)};
    RecordStreamWriter w;
    w.Changed(file);
    CurrentRecord r;
    EXPECT_EQ(ReadOne(w.bytes(), &r), ReadRecordStatus::kUnsafeName);
}

}  // namespace
