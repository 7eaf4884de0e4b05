// msvcrt.dll of older Windows has no strnlen, so the runtime library supplies
// one, and with it the executable's only unwind tables (a section of their
// own). This one is built like the rest of the applier: without them.
#include <cstring>

extern "C" size_t __cdecl strnlen(const char* text, size_t limit) {
    const void* end = std::memchr(text, 0, limit);
    return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - text) : limit;
}
