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

// Only a value whose first byte is not zero, and that fits the 1,001-byte
// check area, shows the software as installed.
TEST_F(RegistryRun, CheckValueDecidesWhetherAnythingIsWritten) {
    struct Case {
        std::string keyPath;
        DWORD type;
        Bytes data;
        int result;
    };
    const Case cases[] = {
        {kKey, REG_SZ, TextBytes("C:\\App"), kOk},
        {kKey, REG_DWORD, {0, 1, 0, 0}, kTargetNotRegistered},  // a zero first byte
        {kKey, REG_SZ, {0}, kTargetNotRegistered},
        {kKey, REG_BINARY, Bytes(1002, 'x'), kTargetNotRegistered},
        {kKey + std::string("\\Nowhere"), REG_SZ, TextBytes("x"), kTargetNotRegistered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.data.size());
        SetRegistryValue(kKey, "Check", c.data, c.type);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "Written");
        RegistryScriptWriter script(kCurrentUserRoot, c.keyPath, "Check");
        script.OpenKey(kCurrentUserRoot, kKey);
        script.SetValue("Written", REG_BINARY, TextBytes("w"));
        EXPECT_EQ(c.result, RunScript(script.Finish()));
        EXPECT_EQ(c.result == kOk ? TextBytes("w") : kMissing, RegistryValue(kKey, "Written"));
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

// A value before any key, a key that does not exist, a script without End.
TEST_F(RegistryRun, FailuresAreReportedAndEarlierValuesStay) {
    RegistryScriptWriter beforeOpen(kCurrentUserRoot, kKey, "Installed");
    beforeOpen.SetValue("Early", REG_SZ, TextBytes("e"));
    RegistryScriptWriter missingKey(kCurrentUserRoot, kKey, "Installed");
    missingKey.OpenKey(kCurrentUserRoot, kKey);
    missingKey.SetValue("First", REG_BINARY, TextBytes("1"));
    missingKey.OpenKey(kCurrentUserRoot, kKey + std::string("\\Absent"));
    RegistryScriptWriter unterminated(kCurrentUserRoot, kKey, "Installed");
    unterminated.OpenKey(kCurrentUserRoot, kKey);
    Bytes noEnd = unterminated.Finish();
    noEnd.pop_back();  // the End code; the script's length ends before it
    const std::pair<Bytes, int> cases[] = {{beforeOpen.Finish(), kRegistryDenied},
                                           {missingKey.Finish(), kRegistryDenied},
                                           {noEnd, kPatchDamaged}};
    for (const auto& [script, result] : cases) {
        ClearLog();
        EXPECT_EQ(result, RunScript(script));
        EXPECT_EQ(1, LogCount(result));
    }
    EXPECT_EQ(kMissing, RegistryValue(kKey, "Early"));
    EXPECT_EQ(TextBytes("1"), RegistryValue(kKey, "First"));
}

}  // namespace
