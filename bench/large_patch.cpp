// Writes a patch for one file of more than 2 GiB: the old file is zeros, the
// new one the same zeros with its last bytes changed. The delta is made by
// hand (one copy, one insert): the encoder takes files up to 1 GiB, while the
// applier's sizes, seeks and integers reach the format's 4 GiB.
//   large_patch SIZE STUB.EXE OUT.EXE
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "builder/lib/delta_block_writer.h"
#include "builder/lib/payload_writer.h"
#include "core/crc.h"

namespace {

const char kTail[] = "the last bytes changed";
constexpr uint32_t kTailLength = sizeof kTail - 1;

uint32_t CrcOfZeros(uint64_t count, uint32_t reg) {
    static const Bytes zeros(1 << 20, 0);
    for (; count > 0;) {
        const size_t n = count < zeros.size() ? static_cast<size_t>(count) : zeros.size();
        reg = CrcOfBuffer(zeros.data(), n, reg);
        count -= n;
    }
    return reg;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: large_patch SIZE STUB.EXE OUT.EXE\n");
        return 2;
    }
    const uint32_t size = static_cast<uint32_t>(std::strtoull(argv[1], nullptr, 10));
    std::ifstream stubFile(argv[2], std::ios::binary);
    const Bytes stub((std::istreambuf_iterator<char>(stubFile)), std::istreambuf_iterator<char>());
    if (size <= kTailLength || stub.empty()) return 2;

    DeltaVariant variant;
    variant.header.sourceSize = size;
    variant.header.sourceCrc = CrcOfZeros(size, kCrcStart);
    variant.header.groupSize = 1;
    variant.header.chunkSize = 255;
    DeltaBlockWriter w(size);
    w.PackedInteger(size - kTailLength);  // copy the zeros from position 0
    w.PackedInteger(0);
    w.CommandByte(0);  // no diff bytes
    w.PackedInteger(-static_cast<int64_t>(kTailLength));
    w.BitC(true);  // the insert is taken as it stands
    w.InsertBytes(reinterpret_cast<const uint8_t*>(kTail), kTailLength);
    for (int b = 0; b < kDeltaBlockCount; ++b) variant.blocks[b] = w.blocks()[b];

    ChangedFile file;
    file.fileName = "big.bin";
    file.header.newSize = size;
    file.header.newCrc = CrcOfBuffer(kTail, kTailLength, CrcOfZeros(size - kTailLength, kCrcStart));
    file.variants.push_back(variant);
    RecordStreamWriter records;
    records.Location(LocationSpec());
    records.BackupName("BACKUP");
    records.Changed(file);
    records.End();
    const Bytes payload = BuildPayload(Bytes(), Bytes(), records.bytes());
    const Bytes patch = BuildPatchFile(stub, payload, 0, 0, PatchFileOptions());
    std::ofstream out(argv[3], std::ios::binary);
    out.write(reinterpret_cast<const char*>(patch.data()),
              static_cast<std::streamsize>(patch.size()));
    return out ? 0 : 1;
}
