// Turns the payload body behind the header into the payload file: a raw
// deflate stream is inflated, a stored body is copied, both in 1 KB pieces.
#include <zlib.h>

#include "container/open_patch.h"
#include "core/crc.h"

namespace {

constexpr uint32_t kPieceSize = 1024;
constexpr int kRawDeflateWindowBits = -15;
// Positions in the payload file are 32-bit: it can never hold more.
constexpr uint64_t kLongestPayload = 0xFFFFFFFFu;

// The payload file, with the length and CRC value of what went into it folded
// in as it is written: the integrity record is checked without reading again.
// It never grows past limit: a body that inflates to more is damaged, and
// stopping at once spares the temporary drive.
class PayloadSink {
  public:
    PayloadSink(HANDLE file, uint64_t limit) : file_(file), limit_(limit) {}
    ResultCode Write(const uint8_t* bytes, uint32_t count) {
        if (count > limit_ - length_) return kPatchDamaged;
        crc_ = CrcOfBuffer(bytes, count, crc_);
        length_ += count;
        return WriteBlock(file_, bytes, count) ? kOk : kTempFull;
    }
    bool Matches(const IntegrityRecord& record) const {
        return length_ == record.payloadLength && crc_ == record.payloadCrc;
    }

  private:
    HANDLE file_;
    uint64_t limit_;
    uint32_t crc_ = kCrcStart;
    uint64_t length_ = 0;
};

ResultCode CopyStoredBody(HANDLE executable, PayloadSink& payload, uint32_t bodyLength) {
    uint8_t buffer[kPieceSize];
    while (bodyLength > 0) {
        uint32_t piece = bodyLength < kPieceSize ? bodyLength : kPieceSize;
        if (!ReadBlock(executable, buffer, piece)) return kPatchDamaged;
        const ResultCode written = payload.Write(buffer, piece);
        if (written != kOk) return written;
        bodyLength -= piece;
    }
    return kOk;
}

class RawInflater {
  public:
    explicit RawInflater(PayloadSink& output) : output_(output) {
        ready_ = inflateInit2(&stream_, kRawDeflateWindowBits) == Z_OK;
    }
    ~RawInflater() {
        if (ready_) inflateEnd(&stream_);
    }
    RawInflater(const RawInflater&) = delete;
    RawInflater& operator=(const RawInflater&) = delete;

    bool ready() const { return ready_; }
    bool finished() const { return finished_; }

    void Offer(uint8_t* input, uint32_t count) {
        stream_.next_in = input;
        stream_.avail_in = count;
    }
    bool InputLeft() const { return stream_.avail_in > 0; }

    // One inflate call into a fresh output buffer, its output written to the
    // payload file. *produced tells whether the call made any progress.
    ResultCode Step(int flush, bool* produced) {
        uint8_t output[kPieceSize];
        stream_.next_out = output;
        stream_.avail_out = kPieceSize;
        uInt inputBefore = stream_.avail_in;
        int status = inflate(&stream_, flush);
        uint32_t count = kPieceSize - stream_.avail_out;
        *produced = count > 0 || stream_.avail_in != inputBefore;
        if (count > 0) {
            const ResultCode written = output_.Write(output, count);
            if (written != kOk) return written;
        }
        if (status == Z_STREAM_END) {
            finished_ = true;
            return kOk;
        }
        // Data, stream, memory and dictionary errors all mean a damaged body;
        // calling again with the same input would never end.
        if (status != Z_OK && status != Z_BUF_ERROR) return kPatchDamaged;
        return kOk;
    }

  private:
    PayloadSink& output_;
    z_stream stream_ = {};
    bool ready_ = false;
    bool finished_ = false;
};

ResultCode InflateBody(HANDLE executable, PayloadSink& payload, uint32_t bodyLength) {
    RawInflater inflater(payload);
    if (!inflater.ready()) return kPatchDamaged;
    uint8_t input[kPieceSize];
    bool produced = false;
    while (bodyLength > 0 && !inflater.finished()) {
        uint32_t piece = bodyLength < kPieceSize ? bodyLength : kPieceSize;
        if (!ReadBlock(executable, input, piece)) return kPatchDamaged;
        inflater.Offer(input, piece);
        while (inflater.InputLeft() && !inflater.finished()) {
            ResultCode result = inflater.Step(Z_SYNC_FLUSH, &produced);
            if (result != kOk) return result;
            if (!produced) return kPatchDamaged;
        }
        bodyLength -= piece;
    }
    // Output still held back by inflate comes out here; bytes behind the end
    // of the deflate stream are never looked at.
    while (!inflater.finished()) {
        ResultCode result = inflater.Step(Z_FINISH, &produced);
        if (result != kOk) return result;
        if (!produced) break;
    }
    // A body that stops before its deflate stream ends is damaged.
    return inflater.finished() ? kOk : kPatchDamaged;
}

}  // namespace

ResultCode ExtractPayload(OpenedPatch* patch) {
    const HANDLE executable = patch->executable.get();
    patch->payload.Reset(CreateTempStreamFile());
    if (patch->payload.handle() == 0) return kTempFull;
    IntegrityRecord record;
    const bool recorded = ReadIntegrityRecord(patch->header.opaqueBlock, &record);
    PayloadSink payload(patch->payload.handle(), recorded ? record.payloadLength : kLongestPayload);
    uint32_t bodyLength = patch->payloadEnd - CurrentPosition(executable) - kPayloadTrailerSize;
    ResultCode result = (patch->header.payloadFlags & kPayloadCompressed)
                            ? InflateBody(executable, payload, bodyLength)
                            : CopyStoredBody(executable, payload, bodyLength);
    if (result != kOk) return result;
    // A download damaged inside a body that still inflates.
    if (recorded && !payload.Matches(record)) return kPatchDamaged;
    patch->payload.Seek(0);
    return kOk;
}
