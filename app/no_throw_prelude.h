// Read ahead of every header by the applier's module code (-include, see
// CMakeLists.txt). The applier neither throws nor catches: where std::string
// or std::vector would throw, the process ends (no_throw_runtime.cpp). Made
// inline here, those calls become an abort on the spot, and the message texts
// they pass stay out of the executable, where each object file would
// otherwise store its own copies.
#pragma once
#include <cstdlib>

// no_throw_runtime.cpp holds the out-of-line definitions, for library code.
#ifndef NO_THROW_RUNTIME
namespace std {
[[noreturn]] inline void __throw_bad_alloc() { abort(); }
[[noreturn]] inline void __throw_bad_array_new_length() { abort(); }
[[noreturn]] inline void __throw_length_error(const char*) { abort(); }
[[noreturn]] inline void __throw_logic_error(const char*) { abort(); }
[[noreturn]] inline void __throw_out_of_range(const char*) { abort(); }
[[noreturn]] inline void __throw_out_of_range_fmt(const char*, ...) { abort(); }
}  // namespace std
#endif
