// Benchmark tool, run under Wine by bench/apply-bench.sh.
//   apply_bench make OLD NEW STREAM   encodes OLD -> NEW into a one-file patch stream, as
//                                     the builder does
//   apply_bench apply STREAM TARGET   applies it to TARGET\big.bin and prints
//                                     seconds, output MB/s and peak working set
// The two steps run as separate processes so the peak belongs to the apply.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "builder/lib/delta_encoder.h"
#include "core/crc.h"
#include "core/result_codes.h"
#include "builder/lib/payload_writer.h"
#include "engine/apply_driver.h"
#include "platform/file_primitives.h"

namespace {

// The run without a window: no log, no questions.
struct QuietHost : RunHost {
    void PumpMessages() override {}
    bool StopRequested() const override { return false; }
    std::string RequestedTargetPath() const override { return target; }
    void ShowTarget(const std::string&) override {}
    void ShowLogLine(const std::string&, bool) override {}
    void ClearLog() override {}
    bool AskYesNo(const std::string&, const char*) override { return false; }
    std::string target;
};

Bytes ReadAll(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int Make(const char* oldPath, const char* newPath, const char* streamPath) {
    const Bytes oldContent = ReadAll(oldPath);
    const Bytes newContent = ReadAll(newPath);
    ChangedFile file;
    file.fileName = "big.bin";
    file.header.newCrc = CrcOfBuffer(newContent.data(), newContent.size(), kCrcStart);
    file.header.newSize = static_cast<uint32_t>(newContent.size());
    // The delta the builder itself would ship for this change.
    DeltaVariant variant;
    std::string error;
    if (!EncodeSmallestDelta(oldContent, newContent, EncodeOptions{}, &variant, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    file.variants.push_back(std::move(variant));
    RecordStreamWriter w;
    w.Location(LocationSpec{});
    w.BackupName("BAK");
    w.Changed(file);
    w.End();
    std::ofstream out(streamPath, std::ios::binary);
    out.write(reinterpret_cast<const char*>(w.bytes().data()), w.bytes().size());
    std::printf("stream bytes: %zu\n", w.bytes().size());
    return 0;
}

int Apply(const char* streamPath, const char* target) {
    const Bytes stream = ReadAll(streamPath);
    OpenedPatch patch;
    patch.payload.Reset(CreateTempStreamFile());
    WriteBlock(patch.payload.handle(), stream.data(), static_cast<uint32_t>(stream.size()));
    QuietHost host;
    host.target = target;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int result = ApplyPatch(patch, host);
    QueryPerformanceCounter(&end);
    const double seconds = double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExA((std::string(target) + "\\big.bin").c_str(), GetFileExInfoStandard, &data);
    PROCESS_MEMORY_COUNTERS memory = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
    std::printf("result %d, %.2f s, %.1f MB/s output, peak working set %.1f MB\n", result, seconds,
                data.nFileSizeLow / 1e6 / seconds, memory.PeakWorkingSetSize / 1e6);
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "make") return Make(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::string(argv[1]) == "apply") return Apply(argv[2], argv[3]);
    std::fprintf(stderr, "usage: apply_bench make OLD NEW STREAM | apply STREAM TARGET\n");
    return 2;
}
