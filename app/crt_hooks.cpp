// The runtime's start-up code names a handler for floating-point maths errors
// that it installs only on request (_MINGW_INSTALL_DEBUG_MATHERR, which is
// off), so it never runs; the library's version would still bring its
// diagnostic printer and texts into the executable.
struct _exception;
extern "C" int __cdecl _matherr(_exception*) { return 0; }
