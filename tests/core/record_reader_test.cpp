#include "core/record_reader.h"

#include <gtest/gtest.h>

#include <vector>

#include "builder/lib/payload_writer.h"
#include "tests/core/test_bytes.h"

namespace {

// Reads records up to the end record: the first failure, or kOk.
ReadRecordStatus ReadAll(const Bytes& stream) {
    MemoryByteSource in(stream.data(), static_cast<uint32_t>(stream.size()));
    CurrentRecord r;
    ReadRecordStatus status;
    while ((status = ReadRecord(in, &r)) == ReadRecordStatus::kOk && r.kind != kEndRecord) {
    }
    return status;
}

DeltaVariant Variant(const std::string& sourceName, uint32_t blockBytes) {
    DeltaVariant v;
    v.sourceName = sourceName;
    for (int b = 0; b < kDeltaBlockCount; ++b) v.blocks[b] = Bytes(blockBytes + b, uint8_t(b + 1));
    return v;
}

// Every record kind the writer makes reads back, with and without skip
// ranges. A NUL inside a short string cuts the text, not the position; end
// and registry records keep the last file name. Every proper prefix of the
// stream fails before its end record, never reading data beyond the end.
TEST(RecordReader, WrittenRecordsReadBack) {
    for (bool skip : {false, true}) {
        ChangedFile file;
        file.fileName = "dir/app.exe";
        file.variants = {Variant("", 2), Variant("old.exe", 5)};
        file.variants[1].skipOffset = skip ? 50 : 0;
        file.variants[1].skipLength = skip ? 4 : 0;
        RecordStreamWriter w;
        w.Changed(file);
        w.NewFile("new.dat", BytesOf("content"));
        w.Obsolete(std::string("gone.txt\0junk", 13));
        w.Registry(RegistryScriptWriter(0x80000001u, "Software\\X", "").Finish());
        w.End();
        ASSERT_TRUE(w.ok());
        const Bytes& s = w.bytes();
        MemoryByteSource in(s.data(), static_cast<uint32_t>(s.size()));
        CurrentRecord r;

        ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
        ASSERT_EQ(r.kind, kFileRecord);
        EXPECT_EQ((r.fileHeader.fileFlags & kHasSkipRange) != 0, skip)
            << "a variant's skip range sets the flag";
        EXPECT_EQ(r.variants[0].sourceName, "dir/app.exe") << "an empty name stands for the file";
        EXPECT_EQ(r.variants[1].skipLength, skip ? 4u : 0u);
        const Bytes& last = file.variants[1].blocks[kDeltaBlockCount - 1];
        const uint32_t lastAt = r.variants[1].dataStart + VariantDataLength(r.variants[1].header);
        EXPECT_EQ(Bytes(&s[lastAt - last.size()], &s[lastAt]), last);
        const int kKinds[] = {kNewFileRecord, kObsoleteRecord, kRegistryRecord, kEndRecord};
        for (int kind : kKinds) {
            ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
            ASSERT_EQ(r.kind, kind);
        }
        EXPECT_EQ(r.fileName, "gone.txt") << "the NUL cut the name; the end record keeps it";
        EXPECT_EQ(in.Position(), s.size());
        for (size_t n = 0; n < s.size(); ++n) {
            EXPECT_EQ(ReadAll(Bytes(s.begin(), s.begin() + n)), ReadRecordStatus::kReadFailed) << n;
        }
    }
}

// More than 20 sources do not fit the applier's tables; unknown kinds stop
// the walk.
TEST(RecordReader, RejectsWhatDoesNotFit) {
    for (size_t sources : {20, 21}) {
        ChangedFile file;
        file.fileName = "f";
        file.variants.assign(sources, Variant("", 0));
        RecordStreamWriter w;
        w.Changed(file);
        w.End();
        EXPECT_EQ(ReadAll(w.bytes()),
                  sources <= 20 ? ReadRecordStatus::kOk : ReadRecordStatus::kTooManySources);
    }
    for (uint8_t kind : {4, 6, 255}) {
        EXPECT_EQ(ReadAll(Bytes{kind}), ReadRecordStatus::kUnknownKind) << int(kind);
    }
}

// Names are joined to the target directory: none may lead out of it. Big5
// characters whose second byte is 0x5C are no separators, but give no way up
// either; '/' is never a second byte.
TEST(RecordReader, NamesMustStayBelowTheTarget) {
    const std::vector<const char*> kUnsafe = {
        "C:\\x",         "\\x",      "/x",  "..\\x",    "a\\..\\b",
        "a/../b",        "x:stream", "",    ".",        ". .",
        "a\\\\b",        "a\\",      "...", "a\\. \\b", "\xB3\x5C\\..\\x",
        "\xB3\x5C..\\x", "\xB3/.."};
    const std::vector<const char*> kSafe = {
        "a\\b.txt",     "dir/file",           "a..b", ".hidden", "\xB3\x5C",
        "\xA5\x5C.txt", "dir\\\xB3\x5C\\file"};
    for (bool safe : {false, true}) {
        for (const char* name : safe ? kSafe : kUnsafe) {
            RecordStreamWriter w;
            w.Obsolete(name);
            w.End();
            EXPECT_EQ(ReadAll(w.bytes()),
                      safe ? ReadRecordStatus::kOk : ReadRecordStatus::kUnsafeName)
                << name;
        }
    }
    // A source name is held to the same rule.
    ChangedFile file;
    file.fileName = "ok.exe";
    file.variants = {Variant("..\\evil.exe", 0)};
    RecordStreamWriter w;
    w.Changed(file);
    EXPECT_EQ(ReadAll(w.bytes()), ReadRecordStatus::kUnsafeName);
}

}  // namespace
