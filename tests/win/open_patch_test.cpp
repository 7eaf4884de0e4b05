#include "container/open_patch.h"

#include <gtest/gtest.h>

#include "builder/lib/payload_writer.h"
#include "container/payload_file.h"
#include "container/process_texts.h"
#include "core/byte_order.h"
#include "core/result_codes.h"
#include "platform/file_primitives.h"
#include "tests/win/test_support.h"
#include "ui/window_services.h"

namespace {

const Bytes kStub = {'M', 'Z', 's', 't', 'u', 'b'};

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Pattern(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    return b;
}

// A patch around a body the writer would never make (damaged, cut, padded).
Bytes PatchWithBody(const Bytes& body, uint8_t flags, uint16_t notice = 0) {
    PatchHeader header{};
    header.headerMagic = kPayloadMagic;
    header.payloadFlags = flags;
    header.noticeLength = notice;
    PayloadTrailer trailer{uint32_t(kPatchHeaderSize + body.size() + kPayloadTrailerSize),
                           kPayloadMagic};
    Bytes file = kStub;
    file.resize(kStub.size() + kPatchHeaderSize);
    SerializePatchHeader(header, &file[kStub.size()]);
    file.insert(file.end(), body.begin(), body.end());
    file.resize(file.size() + kPayloadTrailerSize);
    SerializePayloadTrailer(trailer, &file[file.size() - kPayloadTrailerSize]);
    return file;
}

class OpenPatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        gWindow.descriptionEdit =
            CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 9, 9, 0, 0, 0, 0);
    }
    void TearDown() override {
        ClosePayloadFile();
        CloseFile(gPatchExecutable);
        gPatchExecutable = 0;
        DestroyWindow(gWindow.descriptionEdit);
        gWindow = WindowState();
    }
    int Open(const Bytes& file) {
        gPatchPath = dir_ / ("patch" + std::to_string(++opened_) + ".exe");
        WriteWholeFile(gPatchPath, std::string(file.begin(), file.end()));
        gWindow.layoutOffset = 0;
        SetWindowTextA(gWindow.descriptionEdit, "");
        return OpenPatch();
    }
    static Bytes PayloadContent() {
        Bytes content(FileSize(gPayloadFile));
        SeekPayload(0);
        EXPECT_TRUE(ReadPayload(content.data(), uint32_t(content.size())));
        return content;
    }
    ScratchDirectory dir_;
    int opened_ = 0;
};

TEST_F(OpenPatchTest, BodiesBecomeThePayloadByteForByte) {
    Bytes twoPieces = Pattern(2043);  // level 0: one stored block, 5 header bytes
    ASSERT_EQ(RawDeflate(twoPieces, 0).size(), 2048u);
    Bytes padded = RawDeflate(Pattern(5000), 9);
    padded.insert(padded.end(), 3000, 0xFF);  // ignored behind the end of the stream
    struct Case {
        Bytes file, payload;
    } cases[] = {
        {PatchWithBody(Bytes(), 0), Bytes()},
        {PatchWithBody(Pattern(3072), 0xFE), Pattern(3072)},  // only bit 0 has a meaning
        {PatchWithBody(Pattern(5000), 0), Pattern(5000)},
        {PatchWithBody(RawDeflate(twoPieces, 0), kPayloadCompressed), twoPieces},
        {PatchWithBody(padded, kPayloadCompressed), Pattern(5000)},
        {BuildPatchFile(kStub, Bytes(), 0, 0, PatchFileOptions()), Bytes()},
        {BuildPatchFile(kStub, Bytes(200000, 'z'), 0, 0, PatchFileOptions()), Bytes(200000, 'z')},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(Open(c.file), kOk) << c.payload.size();
        EXPECT_EQ(PayloadContent(), c.payload);
    }
    char name[MAX_PATH + 1] = {};
    ASSERT_GT(GetFinalPathNameByHandleA(gPayloadFile, name, MAX_PATH, 0), 4u);
    ClosePayloadFile();
    EXPECT_EQ(GetFileAttributesA(name + 4), INVALID_FILE_ATTRIBUTES);  // deleted on close
}

TEST_F(OpenPatchTest, DamagedFilesGetTheirMessage) {
    Bytes deflated = RawDeflate(Pattern(4000), 9);
    Bytes good = PatchWithBody(deflated, kPayloadCompressed);
    auto changed = [&](size_t at, uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    auto withLength = [&](uint32_t length) {
        Bytes b = good;
        StoreLe32(&b[b.size() - kPayloadTrailerSize], length);
        return b;
    };
    struct Case {
        Bytes file;
        int result;
    } cases[] = {
        {kStub, kUnreadablePatch},
        {Bytes(3, 1), kUnreadablePatch},
        {changed(good.size() - 1, 0), kUnreadablePatch},  // trailer magic
        {changed(kStub.size(), 0), kUnreadablePatch},     // header magic
        {withLength(uint32_t(good.size() + 1)), kUnreadablePatch},
        {withLength(kPatchHeaderSize + kPayloadTrailerSize - 1), kUnreadablePatch},
        {PatchWithBody(Bytes(64, 0xFF), kPayloadCompressed), kPatchDamaged},  // not deflate data
        {PatchWithBody(Bytes(deflated.begin(), deflated.end() - 40), kPayloadCompressed),
         kPatchDamaged},
        {PatchWithBody(Bytes(), kPayloadCompressed), kPatchDamaged},
        {PatchWithBody(Pattern(10), 0, 11), kNotAPatch},  // texts past the payload
    };
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(Open(cases[i].file), cases[i].result) << i;
    gPatchPath = dir_ / "missing.exe";
    EXPECT_EQ(OpenPatch(), kCannotOpenPatch);
}

TEST_F(OpenPatchTest, NoticeAndDescriptionAreReadyForTheWindow) {
    struct Case {
        std::string notice, description, shownNotice, shownDescription;
    } cases[] = {
        {std::string("a\0b#c#%hidden", 13), "", "a\nb#c", ""},
        {"", std::string("x\0y\r\nz", 6), "", "x\r\r\ny\r\r\n\nz"},
        {std::string(999, 'n') + "中" + "more", std::string(1500, 'd'), std::string(999, 'n'),
         std::string(1002, 'd')},
    };
    for (const Case& c : cases) {
        Bytes payload = BuildPayload(Text(c.notice), Text(c.description), Bytes{0});
        ASSERT_EQ(Open(BuildPatchFile(kStub, payload, uint16_t(c.notice.size()),
                                      uint16_t(c.description.size()), PatchFileOptions())),
                  kOk);
        EXPECT_EQ(std::string(gWindow.noticeText), c.shownNotice);
        EXPECT_EQ(WindowText(gWindow.descriptionEdit), c.shownDescription);
        EXPECT_EQ(gWindow.layoutOffset, c.description.empty() ? 0 : 150);
        EXPECT_EQ(gRecordsStart, c.notice.size() + c.description.size());
    }
}

TEST(PayloadFile, StringsAndCopies) {
    gPayloadFile = CreateTempStreamFile();
    Bytes data = Pattern(2500);
    data[5] = 3, data[6] = 'a', data[7] = 0, data[8] = 'b';
    ASSERT_TRUE(WriteBlock(gPayloadFile, data.data(), uint32_t(data.size())));
    std::string text;
    SeekPayload(5);
    EXPECT_TRUE(ReadPayloadString(&text));
    EXPECT_EQ(text, "a");  // cut at the NUL; the position passes all three bytes
    EXPECT_EQ(PayloadPosition(), 9u);
    ScratchDirectory dir;
    ScopedFile copy(CreateNewFile(dir / "copy"));
    SeekPayload(100);
    EXPECT_TRUE(CopyPayloadToFile(2300, copy.get()) && CopyPayloadToFile(-5, copy.get()));
    EXPECT_FALSE(CopyPayloadToFile(200, copy.get()));  // only 100 bytes are left
    copy.reset();
    EXPECT_EQ(ReadWholeFile(dir / "copy").substr(0, 2300),
              std::string(data.begin() + 100, data.begin() + 2400));
    ClosePayloadFile();
}

}  // namespace
