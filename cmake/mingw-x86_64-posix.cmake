# Win32 tests of the 64-bit build (posix-thread runtime).
set(ORLIMO_MINGW_ARCH x86_64)
set(ORLIMO_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
