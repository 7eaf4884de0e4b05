#include "container/open_patch.h"

#include <gtest/gtest.h>

#include "builder/lib/payload_writer.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/result_codes.h"
#include "platform/file_primitives.h"
#include "tests/win/test_support.h"
#include "ui/window_services.h"

namespace {

const Bytes kStub = {'M', 'Z', 's', 't', 'u', 'b'};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(size_t size) {
    Bytes b(size);
    uint32_t x = 12345;
    for (uint8_t& v : b) {
        x = x * 1103515245u + 12345u;
        v = static_cast<uint8_t>(x >> 16);
    }
    return b;
}

// A patch file put together from its parts, for bodies the writer would never
// produce (damaged, truncated, with trailing bytes).
Bytes PatchWithBody(const Bytes& body, bool compressed, uint16_t noticeLength,
                    uint16_t descriptionLength) {
    PatchHeader header{};
    header.headerMagic = kPayloadMagic;
    header.payloadFlags = compressed ? kPayloadCompressed : 0;
    header.noticeLength = noticeLength;
    header.descriptionLength = descriptionLength;
    uint8_t headerBytes[kPatchHeaderSize];
    SerializePatchHeader(header, headerBytes);
    PayloadTrailer trailer{
        static_cast<uint32_t>(kPatchHeaderSize + body.size() + kPayloadTrailerSize), kPayloadMagic};
    uint8_t trailerBytes[kPayloadTrailerSize];
    SerializePayloadTrailer(trailer, trailerBytes);
    Bytes file = kStub;
    file.insert(file.end(), headerBytes, headerBytes + kPatchHeaderSize);
    file.insert(file.end(), body.begin(), body.end());
    file.insert(file.end(), trailerBytes, trailerBytes + kPayloadTrailerSize);
    return file;
}

Bytes PayloadFileContent() {
    Bytes content(FileSize(gPayloadFile));
    SeekPayload(0);
    if (!content.empty()) {
        EXPECT_TRUE(ReadPayload(content.data(), static_cast<uint32_t>(content.size())));
    }
    return content;
}

class OpenPatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        main_ = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 600, 405, 0, 0, 0, 0);
        gWindow.mainWindow = main_;
        gWindow.descriptionEdit =
            CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 0, 10, 10, main_, 0, 0, 0);
    }
    void TearDown() override {
        ClosePayloadFile();
        CloseFile(gPatchExecutable);
        gPatchExecutable = 0;
        DestroyWindow(main_);
        gWindow = WindowState();
        gPatchPath.clear();
    }
    int Open(const Bytes& file) {
        ClosePayloadFile();
        CloseFile(gPatchExecutable);
        gPatchExecutable = 0;
        gWindow.layoutOffset = 0;
        ShowWindow(gWindow.descriptionEdit, SW_HIDE);
        SetWindowTextA(gWindow.descriptionEdit, "");
        gPatchPath = dir_ / "patch.exe";
        WriteWholeFile(gPatchPath, std::string(file.begin(), file.end()));
        return OpenPatch();
    }
    bool DescriptionShown() const {
        return (GetWindowLongA(gWindow.descriptionEdit, GWL_STYLE) & WS_VISIBLE) != 0;
    }

    ScratchDirectory dir_;
    HWND main_ = 0;
};

TEST_F(OpenPatchTest, StoredAndDeflatedBodiesGiveThePayloadByteForByte) {
    struct Case {
        const char* name;
        size_t payloadSize;
        bool compress;
        int level;
    };
    const Case cases[] = {
        {"stored, empty", 0, false, 9},
        {"stored, one piece exactly", 1024, false, 9},
        {"stored, three pieces exactly", 3072, false, 9},
        {"stored, uneven", 5000, false, 9},
        {"deflated, empty payload", 0, true, 9},
        {"deflated, large", 200000, true, 9},
        {"deflated, incompressible", 5000, true, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes payload = Pattern(c.payloadSize);
        PatchFileOptions options;
        options.compress = c.compress;
        options.level = c.level;
        ASSERT_EQ(Open(BuildPatchFile(kStub, payload, 0, 0, options)), kOk);
        EXPECT_EQ(PayloadFileContent(), payload);
        EXPECT_EQ(gRecordsStart, 0u);
    }
}

TEST_F(OpenPatchTest, DeflateBodiesOfWholePiecesAndTrailingBytes) {
    // Level 0 stores the data in one block of five header bytes: a payload of
    // 2,043 bytes gives a body of exactly 2,048.
    Bytes payload = Pattern(2043);
    Bytes body = RawDeflate(payload, 0);
    ASSERT_EQ(body.size(), 2048u);
    EXPECT_EQ(Open(PatchWithBody(body, true, 0, 0)), kOk);
    EXPECT_EQ(PayloadFileContent(), payload);

    Bytes trailing = RawDeflate(payload, 9);
    for (int i = 0; i < 3000; ++i) trailing.push_back(0xFF);
    EXPECT_EQ(Open(PatchWithBody(trailing, true, 0, 0)), kOk);
    EXPECT_EQ(PayloadFileContent(), payload);
}

TEST_F(OpenPatchTest, DamagedFilesAreRefusedWithTheirMessage) {
    Bytes payload = Pattern(4000);
    Bytes good = BuildPatchFile(kStub, payload, 0, 0, PatchFileOptions());
    Bytes deflated = RawDeflate(payload, 9);
    auto withByte = [&](size_t fromEnd, uint8_t value) {
        Bytes b = good;
        b[b.size() - fromEnd] = value;
        return b;
    };
    auto withLength = [&](uint32_t length) {
        Bytes b = good;
        b[b.size() - 8] = static_cast<uint8_t>(length);
        b[b.size() - 7] = static_cast<uint8_t>(length >> 8);
        b[b.size() - 6] = static_cast<uint8_t>(length >> 16);
        b[b.size() - 5] = static_cast<uint8_t>(length >> 24);
        return b;
    };
    Bytes headerMagic = good;
    headerMagic[kStub.size()] ^= 0xFF;
    struct Case {
        const char* name;
        Bytes file;
        int result;
    };
    const Case cases[] = {
        {"no payload at all", kStub, kUnreadablePatch},
        {"shorter than a trailer", Bytes{1, 2, 3}, kUnreadablePatch},
        {"empty file", Bytes(), kUnreadablePatch},
        {"wrong trailer magic", withByte(1, 0), kUnreadablePatch},
        {"wrong header magic", headerMagic, kUnreadablePatch},
        {"length beyond the file", withLength(static_cast<uint32_t>(good.size() + 1)),
         kUnreadablePatch},
        {"length too short for a header", withLength(kPatchHeaderSize + 7), kUnreadablePatch},
        {"corrupt deflate data", PatchWithBody(Bytes(64, 0xFF), true, 0, 0), kPatchDamaged},
        {"deflate stream cut short",
         PatchWithBody(Bytes(deflated.begin(), deflated.begin() + deflated.size() / 2), true, 0, 0),
         kPatchDamaged},
        {"compressed body of no bytes", PatchWithBody(Bytes(), true, 0, 0), kPatchDamaged},
        {"texts longer than the payload", PatchWithBody(Pattern(10), false, 6, 5), kNotAPatch},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Open(c.file), c.result) << c.name;
    }
    gPatchPath = dir_ / "missing.exe";
    EXPECT_EQ(OpenPatch(), kCannotOpenPatch);
}

TEST_F(OpenPatchTest, NoticeAndDescriptionAreMadeReadyForTheWindow) {
    struct Case {
        const char* name;
        std::string notice;
        std::string description;
        const char* shownNotice;
        const char* shownDescription;  // nullptr: the box stays hidden
    };
    const Case cases[] = {
        {"cut at #%", std::string("a\0b#c#%hidden", 13), "", "a\nb#c", nullptr},
        {"empty notice", "", "d", "", "d"},
        {"CR LF line ends", "n", "x\r\ny", "n", "x\r\r\n\ny"},
        {"NUL separators", "n", std::string("x\0y", 3), "n", "x\r\r\ny"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes stream = {0xAB, 0xCD};
        Bytes payload = BuildPayload(Text(c.notice), Text(c.description), stream);
        ASSERT_EQ(
            Open(BuildPatchFile(kStub, payload, static_cast<uint16_t>(c.notice.size()),
                                static_cast<uint16_t>(c.description.size()), PatchFileOptions())),
            kOk);
        EXPECT_STREQ(gWindow.noticeText, c.shownNotice);
        EXPECT_EQ(DescriptionShown(), c.shownDescription != nullptr);
        EXPECT_EQ(gWindow.layoutOffset, c.shownDescription ? 150 : 0);
        if (c.shownDescription) {
            EXPECT_EQ(WindowText(gWindow.descriptionEdit), c.shownDescription);
        }
        EXPECT_EQ(gRecordsStart, c.notice.size() + c.description.size());
        EXPECT_EQ(PayloadPosition(), gRecordsStart);
    }
}

TEST_F(OpenPatchTest, OverlongTextsAreCutAndTheRecordsStayWhereTheyAre) {
    std::string notice = std::string(999, 'n') + "中" + std::string(500, 'N');
    std::string description = std::string(1500, 'd');
    Bytes payload = BuildPayload(Text(notice), Text(description), Bytes{0x00});
    ASSERT_EQ(Open(BuildPatchFile(kStub, payload, static_cast<uint16_t>(notice.size()),
                                  static_cast<uint16_t>(description.size()), PatchFileOptions())),
              kOk);
    EXPECT_EQ(std::string(gWindow.noticeText), std::string(999, 'n'));
    EXPECT_EQ(WindowText(gWindow.descriptionEdit), std::string(1002, 'd'));
    EXPECT_EQ(gRecordsStart, notice.size() + description.size());
}

TEST_F(OpenPatchTest, PayloadFileDisappearsWhenClosed) {
    ASSERT_EQ(Open(BuildPatchFile(kStub, Pattern(100), 0, 0, PatchFileOptions())), kOk);
    char name[MAX_PATH + 1] = {};
    ASSERT_GT(GetFinalPathNameByHandleA(gPayloadFile, name, MAX_PATH, 0), 0u);
    std::string path = name;
    if (path.compare(0, 4, "\\\\?\\") == 0) path.erase(0, 4);
    EXPECT_NE(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
    ClosePayloadFile();
    EXPECT_EQ(GetFileAttributesA(path.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(PayloadFile, ReadsAreAllOrNothingAndCopiesGoInPieces) {
    gPayloadFile = CreateTempStreamFile();
    Bytes data = Pattern(2500);
    data[5] = 3;
    data[6] = 'a';
    data[7] = '\0';
    data[8] = 'b';
    ASSERT_TRUE(WriteBlock(gPayloadFile, data.data(), static_cast<uint32_t>(data.size())));
    std::string text;
    ASSERT_TRUE(SeekPayload(5));
    EXPECT_TRUE(ReadPayloadString(&text));
    EXPECT_EQ(text, "a");  // cut at the NUL, position past all three bytes
    EXPECT_EQ(PayloadPosition(), 9u);

    ScratchDirectory dir;
    ScopedFile copy(CreateNewFile(dir / "copy"));
    ASSERT_TRUE(SeekPayload(100));
    EXPECT_TRUE(CopyPayloadToFile(2300, copy.get()));
    EXPECT_TRUE(CopyPayloadToFile(0, copy.get()));
    EXPECT_TRUE(CopyPayloadToFile(-5, copy.get()));
    EXPECT_FALSE(CopyPayloadToFile(200, copy.get()));  // only 100 bytes are left
    copy.reset();
    std::string copied = ReadWholeFile(dir / "copy");
    ASSERT_GE(copied.size(), 2300u);
    EXPECT_EQ(copied.substr(0, 2300), std::string(data.begin() + 100, data.begin() + 2400));

    uint8_t buffer[16];
    ASSERT_TRUE(SeekPayload(2495));
    EXPECT_FALSE(ReadPayload(buffer, 10));
    ASSERT_TRUE(SeekPayload(2499));
    EXPECT_FALSE(ReadPayloadString(&text));  // length byte says 1+, nothing follows
    ClosePayloadFile();
}

#ifdef APPLIER_EXE
// The applier opens the payload behind its own image and ends with 0.
TEST(Applier, StartsWithAPayloadBehindItsImage) {
    ScratchDirectory dir;
    std::string image = ReadWholeFile(APPLIER_EXE);
    ASSERT_GT(image.size(), 1000u);
    Bytes patch =
        BuildPatchFile(Bytes(image.begin(), image.end()),
                       BuildPayload(Text("n"), Bytes(), Bytes{0}), 1, 0, PatchFileOptions());
    WriteWholeFile(dir / "patch.exe", std::string(patch.begin(), patch.end()));
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string command = "\"" + (dir / "patch.exe") + "\"";
    ASSERT_TRUE(CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                               &startup, &process));
    EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
    DWORD exitCode = 99;
    GetExitCodeProcess(process.hProcess, &exitCode);
    EXPECT_EQ(exitCode, 0u);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
}
#endif

}  // namespace
