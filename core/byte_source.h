// A positioned byte source: the applier's payload file, or a buffer in the
// builder and the tests. Reads are all-or-nothing, so a short read at the end
// of the data is a failure and never goes unnoticed.
#pragma once
#include <cstdint>
#include <string>

class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // True only when all count bytes were delivered.
    virtual bool Read(void* buffer, uint32_t count) = 0;
    virtual bool Seek(uint32_t position) = 0;
    virtual uint32_t Position() = 0;
    virtual uint32_t Size() = 0;
};

// Reads a ShortString: a length byte, then that many bytes; the text is cut at
// its first NUL but the position advances by the full length.
bool ReadShortString(ByteSource& source, std::string* out);

// Moves the position forward by count, failing when that passes the end.
bool SkipBytes(ByteSource& source, uint64_t count);

// A ByteSource over memory the caller keeps alive.
class MemoryByteSource : public ByteSource {
  public:
    MemoryByteSource(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
    bool Read(void* buffer, uint32_t count) override;
    bool Seek(uint32_t position) override;
    uint32_t Position() override { return position_; }
    uint32_t Size() override { return size_; }

  private:
    const uint8_t* data_;
    uint32_t size_;
    uint32_t position_ = 0;
};
