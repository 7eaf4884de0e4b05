#include "core/record_reader.h"

#include <gtest/gtest.h>

#include "builder/lib/payload_writer.h"
#include "core/registry_script.h"
#include "tests/core/test_bytes.h"

namespace {

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
        ASSERT_EQ(r.kind, RecordKind::kFile);
        EXPECT_EQ((r.fileHeader.fileFlags & kHasSkipRange) != 0, skip)
            << "a variant's skip range sets the flag";
        EXPECT_EQ(r.variants[0].sourceName, "dir/app.exe") << "an empty name stands for the file";
        EXPECT_EQ(r.variants[1].skipLength, skip ? 4u : 0u);
        const RecordKind kKinds[] = {RecordKind::kNewFile, RecordKind::kObsolete,
                                     RecordKind::kRegistry, RecordKind::kEnd};
        for (RecordKind kind : kKinds) {
            ASSERT_EQ(ReadRecord(in, &r), ReadRecordStatus::kOk);
            ASSERT_EQ(r.kind, kind);
        }
        EXPECT_EQ(r.fileName, "gone.txt") << "the NUL cut the name; the end record keeps it";
        EXPECT_EQ(in.Position(), s.size());
        for (size_t n = 0; n < s.size(); ++n) {
            EXPECT_EQ(ReadAllRecords(Bytes(s.begin(), s.begin() + n)),
                      ReadRecordStatus::kReadFailed)
                << n;
        }
    }
}

// More than 20 sources do not fit the applier's tables.
TEST(RecordReader, RejectsMoreSourcesThanTheTablesHold) {
    for (size_t sources : {20, 21}) {
        ChangedFile file;
        file.fileName = "f";
        file.variants.assign(sources, Variant("", 0));
        RecordStreamWriter w;
        w.Changed(file);
        w.End();
        EXPECT_EQ(ReadAllRecords(w.bytes()),
                  sources <= 20 ? ReadRecordStatus::kOk : ReadRecordStatus::kTooManySources);
    }
}

// Exactly the five defined codes name a kind, each its own; every other code
// is a damaged stream, refused before anything behind it is read.
TEST(RecordKindOf, OnlyTheDefinedCodesNameAKind) {
    for (int code = 0; code < 256; ++code) {
        RecordKind kind = RecordKind::kEnd;
        const bool defined = code <= 3 || code == 5;
        EXPECT_EQ(RecordKindOf(static_cast<uint8_t>(code), &kind), defined) << code;
        EXPECT_TRUE(!defined || RecordCode(kind) == code) << code;
        EXPECT_TRUE(defined || ReadAllRecords(Bytes{static_cast<uint8_t>(code)}) ==
                                   ReadRecordStatus::kUnknownKind)
            << code;
    }
}

// Unknown operations carry no operands and are kept in order; a script is
// damaged when anything runs past its length or End is missing.
TEST(RegistryScriptReader, OneReadingOfEveryScript) {
    RegistryScriptWriter writer(0x80000002u, "Software\\App", "Path");
    writer.Op(7);
    writer.OpenKey(0x80000001u, "Software\\App");
    writer.SetValue("Name", 1, BytesOf("x"));
    writer.Op(200);
    const Bytes script = writer.Finish();
    MemoryByteSource in(script.data(), static_cast<uint32_t>(script.size()));
    RegistryScript read;
    ASSERT_TRUE(ReadRegistryScript(in, static_cast<uint32_t>(script.size()), &read));
    EXPECT_EQ(read.checkKeyPath, "Software\\App");
    ASSERT_EQ(read.operations.size(), 4u);
    EXPECT_EQ(read.operations[0].kind, RegistryOpKind::kUnknown);
    EXPECT_EQ(read.operations[0].code, 7);
    EXPECT_EQ(read.operations[1].rootKey, 0x80000001u);
    EXPECT_EQ(read.operations[2].data, BytesOf("x"));
    EXPECT_EQ(read.operations[3].code, 200);
    // Every shorter length cuts a field or drops End.
    for (uint32_t length = 0; length < script.size(); ++length) {
        MemoryByteSource cut(script.data(), static_cast<uint32_t>(script.size()));
        EXPECT_FALSE(ReadRegistryScript(cut, length, &read)) << length;
    }
}

}  // namespace
