// The payload file: the inflated payload in a self-deleting temporary file,
// read by absolute position through one handle, which it owns.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "core/byte_source.h"

class PayloadFile : public ByteSource {
  public:
    PayloadFile() = default;
    ~PayloadFile() override { Close(); }
    PayloadFile(const PayloadFile&) = delete;
    PayloadFile& operator=(const PayloadFile&) = delete;

    // Takes over handle (0 for none), closing the earlier one.
    void Reset(HANDLE handle);
    void Close() { Reset(0); }  // the file deletes itself when closed
    HANDLE handle() const { return handle_; }

    bool Read(void* buffer, uint32_t count) override;  // all-or-nothing
    bool Seek(uint32_t position) override;
    uint32_t Position() override;
    uint32_t Size() override;
    bool ReadString(std::string* out) { return ReadShortString(*this, out); }
    bool CopyToFile(int64_t count, HANDLE destination);

  private:
    HANDLE handle_ = 0;
};
