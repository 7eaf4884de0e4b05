// Registry records: the registered-software check, then the script's values.
#include "tests/engine/engine_test_fixture.h"

namespace {

const std::string kOther = std::string(kKey) + "\\Other";

class RegistryRun : public EngineRun {
  protected:
    void SetUp() override {
        EngineRun::SetUp();
        SetRegistryValue(kKey, "Installed", TextBytes("yes"));
        SetRegistryValue(kOther, "Keep", TextBytes("k"));
    }
    int RunScript(const Bytes& script) {
        OneSection s;
        s.w.Registry(script);
        return Run(s.Finish());
    }
};

// Only a check value whose first byte is not zero, and that fits the 1,001-byte
// check area, lets the script write. A value before any key or a key that does
// not exist is denied, a script without End is damage; the run then fails and
// what it wrote before is put back.
TEST_F(RegistryRun, CheckValueAndFailuresDecideWhatIsWritten) {
    enum Shape { kPlain, kNoKeyOpen, kAbsentKeyAfter, kNoEnd };
    // checkKey (below kKey), type, check, shape, result, written
    const std::tuple<const char*, DWORD, Bytes, Shape, int, bool> cases[] = {
        {"", REG_SZ, TextBytes("C:\\App"), kPlain, kOk, true},
        {"", REG_DWORD, {0, 1, 0, 0}, kPlain, kTargetNotRegistered, false},  // a zero first byte
        {"", REG_SZ, {0}, kPlain, kTargetNotRegistered, false},
        {"", REG_BINARY, Bytes(1002, 'x'), kPlain, kTargetNotRegistered, false},
        {"\\Nowhere", REG_SZ, TextBytes("x"), kPlain, kTargetNotRegistered, false},
        {"", REG_SZ, TextBytes("x"), kNoKeyOpen, kRegistryDenied, false},
        // A failing run puts back what it wrote.
        {"", REG_SZ, TextBytes("x"), kAbsentKeyAfter, kRegistryDenied, false},
        {"", REG_SZ, TextBytes("x"), kNoEnd, kPatchDamaged, false},
    };
    for (const auto& [checkKey, type, check, shape, result, written] : cases) {
        SCOPED_TRACE(std::to_string(shape) + " " + std::to_string(check.size()));
        SetRegistryValue(kKey, "Check", check, type);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "Written");
        RegistryScriptWriter script(kCurrentUserRoot, kKey + std::string(checkKey), "Check");
        if (shape != kNoKeyOpen) script.OpenKey(kCurrentUserRoot, kKey);
        script.SetValue("Written", REG_BINARY, TextBytes("w"));
        if (shape == kAbsentKeyAfter)
            script.OpenKey(kCurrentUserRoot, kKey + std::string("\\Absent"));
        Bytes bytes = script.Finish();
        if (shape == kNoEnd) bytes.pop_back();  // the End code; the script's length ends before it
        EXPECT_EQ(result, RunScript(bytes));
        EXPECT_EQ(written ? TextBytes("w") : kMissing, RegistryValue(kKey, "Written"));
        if (result != kOk) {
            EXPECT_EQ(1, LogCount(result));
        }
    }
}

TEST_F(RegistryRun, OperationsWriteExactlyTheirData) {
    const Bytes large(5000, 0x5A);  // far beyond the 1,001-byte area
    RegistryScriptWriter script(kCurrentUserRoot, kKey, "Installed");
    script.Op(7);  // unknown operations carry no operands
    script.OpenKey(kCurrentUserRoot, kKey);
    script.SetValue("Empty", REG_BINARY, {});
    script.SetValue("Number", REG_DWORD, {1, 2, 3, 4});
    script.SetValue("Large", REG_BINARY, large);
    script.OpenKey(kCurrentUserRoot, kOther);
    script.SetValue("Second", REG_BINARY, TextBytes("2"));
    ASSERT_EQ(kOk, RunScript(script.Finish()));
    EXPECT_EQ(Bytes{}, RegistryValue(kKey, "Empty"));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), RegistryValue(kKey, "Number"));
    EXPECT_EQ(large, RegistryValue(kKey, "Large"));
    EXPECT_EQ(kMissing, RegistryValue(kKey, "Second"));
    EXPECT_EQ(TextBytes("2"), RegistryValue(kOther, "Second"));
}

}  // namespace
