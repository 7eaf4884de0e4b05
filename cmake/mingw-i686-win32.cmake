# Cross build of the shipped 32-bit applier with MinGW-w64's win32 thread
# model: no winpthreads in the executable. GoogleTest and the test binaries
# need the posix compilers of mingw-i686.cmake, which this file adapts.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-win32)
