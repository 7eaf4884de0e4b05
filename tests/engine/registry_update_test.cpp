// Registry records: the registered-software check, then the script's values.
#include "core/result_codes.h"
#include "tests/engine/engine_test_fixture.h"

namespace {

const char kKey[] = "Software\\EngineTests\\Registry";
const char kOther[] = "Software\\EngineTests\\Registry\\Other";

class RegistryRun : public EngineRun {
  protected:
    void SetUp() override {
        EngineRun::SetUp();
        DeleteRegistryKey(kKey);
        SetRegistryString(kKey, "Installed", "yes");
        SetRegistryString(kOther, "Keep", "k");
    }
    void TearDown() override {
        DeleteRegistryKey(kKey);
        EngineRun::TearDown();
    }
    int RunScript(const Bytes& script) {
        OneSection s;
        s.w.Registry(script);
        return Run(s.Finish());
    }
    Bytes Value(const char* key, const std::string& name) {
        Bytes data;
        return ReadRegistryValue(key, name, &data) ? data : TextBytes("<missing>");
    }
};

TEST_F(RegistryRun, CheckValueDecidesWhetherAnythingIsWritten) {
    struct Case {
        const char* label;
        DWORD type;
        Bytes data;
        int result;
    };
    const Case cases[] = {
        {"text", REG_SZ, TextBytes("C:\\App"), kOk},
        {"number with a zero first byte", REG_DWORD, {0, 1, 0, 0}, kTargetNotRegistered},
        {"empty text", REG_SZ, {0}, kTargetNotRegistered},
        {"longer than the check area", REG_BINARY, Bytes(1002, 'x'), kTargetNotRegistered},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        SetRegistryValue(kKey, "Check", c.type, c.data);
        RegistryScriptWriter script(kCurrentUserRoot, kKey, "Check");
        script.OpenKey(kCurrentUserRoot, kKey);
        script.SetValue("Written", REG_BINARY, TextBytes("w"));
        DeleteRegistryKey(std::string(kKey) + "\\none");
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kKey, "Written");
        EXPECT_EQ(c.result, RunScript(script.Finish()));
        EXPECT_EQ(c.result == kOk ? TextBytes("w") : TextBytes("<missing>"),
                  Value(kKey, "Written"));
    }
    RegistryScriptWriter missingKey(kCurrentUserRoot, "Software\\EngineTests\\Nowhere", "");
    EXPECT_EQ(kTargetNotRegistered, RunScript(missingKey.Finish()));
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
    EXPECT_EQ(Bytes{}, Value(kKey, "Empty"));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), Value(kKey, "Number"));
    EXPECT_EQ(large, Value(kKey, "Large"));
    EXPECT_EQ(TextBytes("<missing>"), Value(kKey, "Second"));
    EXPECT_EQ(TextBytes("2"), Value(kOther, "Second"));
}

TEST_F(RegistryRun, FailuresAreReportedAndEarlierValuesStay) {
    struct Case {
        const char* label;
        Bytes script;
        int result;
    };
    RegistryScriptWriter beforeOpen(kCurrentUserRoot, kKey, "Installed");
    beforeOpen.SetValue("Early", REG_SZ, TextBytes("e"));
    RegistryScriptWriter missingKey(kCurrentUserRoot, kKey, "Installed");
    missingKey.OpenKey(kCurrentUserRoot, kKey);
    missingKey.SetValue("First", REG_BINARY, TextBytes("1"));
    missingKey.OpenKey(kCurrentUserRoot, "Software\\EngineTests\\Registry\\Absent");
    RegistryScriptWriter unterminated(kCurrentUserRoot, kKey, "Installed");
    unterminated.OpenKey(kCurrentUserRoot, kKey);
    Bytes noEnd = unterminated.Finish();
    noEnd.pop_back();  // the End code; the script's length ends before it
    const Case cases[] = {{"value before any key", beforeOpen.Finish(), kRegistryDenied},
                          {"key that does not exist", missingKey.Finish(), kRegistryDenied},
                          {"script without End", noEnd, kPatchDamaged}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        ClearLog();
        EXPECT_EQ(c.result, RunScript(c.script));
        EXPECT_EQ(1, LogCount(c.result));
    }
    EXPECT_EQ(TextBytes("<missing>"), Value(kKey, "Early"));
    EXPECT_EQ(TextBytes("1"), Value(kKey, "First"));
}

TEST_F(RegistryRun, FileInUseMeansNoRegistryPass) {
    // Covered with a held file in the deferred tests; here the values of a
    // failed check pass must not be written either.
    RegistryScriptWriter script(kCurrentUserRoot, kKey, "Installed");
    script.OpenKey(kCurrentUserRoot, kKey);
    script.SetValue("Written", REG_BINARY, TextBytes("w"));
    OneSection s;
    s.w.Changed(ChangeOf("missing.txt", {TextBytes("old")}, TextBytes("new")));
    s.w.Registry(script.Finish());
    EXPECT_EQ(kNoMatchingSource, Run(s.Finish()));
    EXPECT_EQ(TextBytes("<missing>"), Value(kKey, "Written"));
}

}  // namespace
