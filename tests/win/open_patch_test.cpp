#include "container/open_patch.h"

#include <gtest/gtest.h>

#include "tests/core/test_bytes.h"
#include "tests/win/test_support.h"

namespace {

const Bytes kStub = {'M', 'Z', 's', 't', 'u', 'b'};

Bytes Pattern(size_t size) {
    Bytes b(size);
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 2654435761u) >> 13);
    return b;
}

// A patch around a body the writer would never make (damaged, cut, padded):
// stored by the writer, then given the flags.
Bytes PatchWithBody(const Bytes& body, uint8_t flags, uint16_t notice = 0) {
    constexpr size_t kFlagsAt = 9;  // behind the magic, builder value and builder byte
    PatchFileOptions stored;
    stored.compress = false;
    stored.integrityRecord = false;
    Bytes file = BuildPatchFile(kStub, body, notice, 0, stored);
    file[kStub.size() + kFlagsAt] = flags;
    return file;
}

class OpenPatchTest : public ::testing::Test {
  protected:
    int Open(const Bytes& file) {
        const std::string name = "patch" + std::to_string(++opened_) + ".exe";
        WriteTree(dir_.path, {{name, file}});
        patch_.path = dir_ / name;
        return OpenPatch(&patch_, &texts_);
    }
    ScratchDirectory dir_;
    int opened_ = 0;
    OpenedPatch patch_;
    PatchTexts texts_;
};

TEST_F(OpenPatchTest, BodiesBecomeThePayloadByteForByteAndDamageGetsItsMessage) {
    Bytes twoPieces = Pattern(2043);  // level 0: one stored block, 5 header bytes
    ASSERT_EQ(RawDeflate(twoPieces, 0).size(), 2048u);
    Bytes deflated = RawDeflate(Pattern(5000), 9), padded = deflated;
    padded.insert(padded.end(), 3000, 0xFF);  // ignored behind the end of the stream
    Bytes stored = Pattern(3072);
    // Signed: the stored body ends at the trailer, not at the end of the file.
    PatchFileOptions storedOptions;
    storedOptions.compress = false;
    const Bytes signedStored =
        SignedCopy(BuildPatchFile(PeImage(0x10B), stored, 0, 0, storedOptions), 0x10B);
    // With the integrity record: a level 0 body inflates whatever byte of its
    // data is changed, so only the record tells the damage.
    PatchFileOptions level0;
    level0.level = 0;
    const Bytes checked = BuildPatchFile(kStub, twoPieces, 0, 0, level0);
    const Bytes checkedStored = BuildPatchFile(kStub, stored, 0, 0, storedOptions);
    const size_t bodyAt = kStub.size() + kPatchHeaderSize;
    auto flipped = [](Bytes b, size_t at) {
        b[at] ^= 0x20;
        return b;
    };
    constexpr size_t kRecordLengthAt = 10 + 4;  // OpaqueBlock, behind the tag
    // clang-format off
    struct Case {
        Bytes file;
        int result;
        Bytes payload;
    } cases[] = {
        {PatchWithBody(Bytes(), 0), kOk, Bytes()},
        {PatchWithBody(stored, 0xFE), kOk, stored},  // only bit 0 has a meaning
        {PatchWithBody(RawDeflate(twoPieces, 0), kPayloadCompressed), kOk, twoPieces},
        {PatchWithBody(padded, kPayloadCompressed), kOk, Pattern(5000)},
        {BuildPatchFile(kStub, Bytes(), 0, 0, PatchFileOptions()), kOk, Bytes()},
        {signedStored, kOk, stored},
        // Frames the core reader refuses (its own tests say which) are unreadable.
        {kStub, kUnreadablePatch, {}},
        {Bytes(3, 1), kUnreadablePatch, {}},
        {PatchWithBody(Bytes(64, 0xFF), kPayloadCompressed), kPatchDamaged, {}},  // not deflate data
        {PatchWithBody(Bytes(deflated.begin(), deflated.end() - 40), kPayloadCompressed), kPatchDamaged, {}},
        {PatchWithBody(Bytes(), kPayloadCompressed), kPatchDamaged, {}},
        {checked, kOk, twoPieces},
        {checkedStored, kOk, stored},
        {flipped(checked, bodyAt + 1000), kPatchDamaged, {}},
        {flipped(checkedStored, bodyAt + 3071), kPatchDamaged, {}},
        {flipped(checked, kStub.size() + kRecordLengthAt), kPatchDamaged, {}},
        {PatchWithBody(Pattern(10), 0, 11), kNotAPatch, {}},  // texts past the payload
    };
    // clang-format on
    for (size_t i = 0; i < std::size(cases); ++i) {
        ASSERT_EQ(Open(cases[i].file), cases[i].result) << i;
        if (cases[i].result != kOk) continue;
        Bytes content(patch_.payload.Size());
        patch_.payload.Seek(0);
        EXPECT_TRUE(patch_.payload.Read(content.data(), uint32_t(content.size())));
        EXPECT_EQ(content, cases[i].payload) << i;
    }
    // Copies stop at the end of the payload.
    ASSERT_EQ(Open(PatchWithBody(stored, 0)), kOk);
    ScopedFile copy(CreateNewFile(dir_ / "copy"));
    patch_.payload.Seek(100);
    EXPECT_TRUE(patch_.payload.CopyToFile(2900, copy.get()) &&
                patch_.payload.CopyToFile(-5, copy.get()));
    EXPECT_FALSE(patch_.payload.CopyToFile(200, copy.get()));  // only 72 bytes are left
    copy.reset();
    Bytes copied = ReadFileBytes(dir_ / "copy");
    copied.resize(2900);
    EXPECT_EQ(copied, Bytes(stored.begin() + 100, stored.begin() + 3000));
    patch_.path = dir_ / "missing.exe";
    EXPECT_EQ(OpenPatch(&patch_, &texts_), kCannotOpenPatch);
}

// A body that inflates to more than its integrity record says is refused at
// the first byte too many, before the temporary drive fills with it.
TEST_F(OpenPatchTest, PayloadFileNeverGrowsPastTheRecordedLength) {
    const Bytes declared = Pattern(2048);
    const std::tuple<Bytes, int> cases[] = {
        {declared, kOk},
        {Pattern(2049), kPatchDamaged},
        {Bytes(20 << 20, 0), kPatchDamaged},
    };
    for (const auto& [inflated, result] : cases) {
        const Bytes file =
            FramePatchBody(kStub, RawDeflate(inflated, 9), declared, 0, 0, PatchFileOptions());
        EXPECT_EQ(Open(file), result) << inflated.size();
        EXPECT_LE(patch_.payload.Size(), declared.size()) << inflated.size();
    }
}

TEST_F(OpenPatchTest, NoticeAndDescriptionAreReadyForTheWindow) {
    const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
        {std::string("a\0b#c#%hidden", 13), "", "a\nb#c", ""},
        {"", std::string("x\0y\r\nz", 6), "", "x\x01y\r\nz"},
        {std::string(999, 'n') + "中" + "more", std::string(1500, 'd'), std::string(999, 'n'),
         std::string(1002, 'd')},
    };
    for (const auto& [notice, description, shownNotice, shownDescription] : cases) {
        Bytes payload = BuildPayload(TextBytes(notice), TextBytes(description), Bytes{0});
        ASSERT_EQ(Open(BuildPatchFile(kStub, payload, uint16_t(notice.size()),
                                      uint16_t(description.size()), PatchFileOptions())),
                  kOk);
        EXPECT_EQ(texts_.notice, shownNotice);
        EXPECT_EQ(texts_.description, shownDescription);
        EXPECT_EQ(patch_.recordsStart, notice.size() + description.size());
    }
    char name[MAX_PATH + 1] = {};
    ASSERT_GT(GetFinalPathNameByHandleA(patch_.payload.handle(), name, MAX_PATH, 0), 4u);
    patch_.payload.Close();
    EXPECT_EQ(GetFileAttributesA(name + 4), INVALID_FILE_ATTRIBUTES);  // deleted on close
}

}  // namespace
