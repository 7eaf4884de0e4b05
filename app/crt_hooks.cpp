// Stand-ins for library functions, built like the rest of the applier.
#include <zlib.h>

#include <cstring>

#include "app/small_adler32.h"

// msvcrt.dll of older Windows has no strnlen, so the runtime library supplies
// one, and with it the executable's only unwind tables (a section of their
// own). This one carries none.
extern "C" size_t __cdecl strnlen(const char* text, size_t limit) {
    const void* end = std::memchr(text, 0, limit);
    return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : limit;
}

// zlib's inflate calls adler32 only for zlib-wrapped streams and preset
// dictionaries; the payload is raw deflate, which has neither. zlib's own
// version, unrolled for speed, is ten times the size of this one.
extern "C" uLong ZEXPORT adler32(uLong adler, const Bytef* buf, uInt len) {
    return SmallAdler32(static_cast<uint32_t>(adler), buf, len);
}
