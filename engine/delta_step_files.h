// The shared delta decoder over real files: the source version, the output
// being written and the five block files of one step. Reads are served from
// read-ahead buffers and writes are gathered, so a rebuild costs few system
// calls; what the decoder sees is exactly what the files hold.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "host/run_host.h"
#include "core/delta_decoder.h"
#include "core/record_layout.h"

// Reads a file by position through one buffer of fixed size; a read reports
// only the bytes that exist.
class BufferedFileReader {
  public:
    BufferedFileReader(HANDLE file, uint32_t bufferSize);
    bool Read(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got);
    // Drops what is buffered, for a file that has been written since.

  private:
    HANDLE file_;
    std::vector<uint8_t> buffer_;
    uint32_t start_ = 0;
    uint32_t filled_ = 0;
};

class FileDeltaStepIo : public DeltaStepIo {
  public:
    FileDeltaStepIo(RunHost& host, HANDLE input, HANDLE output,
                    const HANDLE blocks[kDeltaBlockCount]);

    bool ReadBlockBytes(int block, uint8_t* buffer, uint32_t count, uint32_t* got) override;
    bool ReadInput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override;
    bool ReadOutput(uint32_t position, uint8_t* buffer, uint32_t count, uint32_t* got) override;
    bool WriteOutput(const uint8_t* buffer, uint32_t count) override;
    // Keeps the window alive, at most once every few milliseconds.
    void Pump() override;

    // Writes what is gathered; the step's output is complete only after it.
    bool Flush();

  private:
    RunHost& host_;
    HANDLE output_;
    BufferedFileReader input_;
    BufferedFileReader blocks_[kDeltaBlockCount];
    uint32_t blockPosition_[kDeltaBlockCount] = {};
    std::vector<uint8_t> pending_;  // output gathered for one write, pendingSize_ bytes of it
    uint32_t pendingSize_ = 0;
    uint32_t flushedSize_ = 0;
    DWORD lastPump_ = 0;
    bool pumped_ = false;
};
