#include "core/registry_script.h"

#include <gtest/gtest.h>

#include "tests/core/test_bytes.h"

namespace {

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
